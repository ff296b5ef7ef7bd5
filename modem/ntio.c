/*
 * ntio.c - byte port output and input. Every port access of the driver
 * passes through here, so everything above runs against any port space that
 * answers the HAL's two port operations.
 */
#include "ntio.h"

/* Writes the low 8 bits of Value to the port. */
VOID CMAC_outb(ULONG_PTR Port, ULONG Value)
{
    WRITE_PORT_UCHAR((PUCHAR)Port, (UCHAR)(Value & 0xFF));
}

UCHAR CMAC_inb(ULONG_PTR Port)
{
    return READ_PORT_UCHAR((PUCHAR)Port);
}
