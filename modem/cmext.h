/*
 * cmext.h - CmExtension, the driver's whole working state.
 *
 * One record, allocated by the I/O manager as the device extension of the
 * driver's single device object. Every field is written during a load before
 * anything reads it, so the driver never depends on what the extension held
 * when it was allocated.
 */
#ifndef CMEXT_H
#define CMEXT_H

#include "ntplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CM_SIGNATURE_SIZE 24 /* 23 characters and a terminating zero */

typedef struct _CmExtension {
    ULONG Socket;      /* 0-based register bank serving the card (0, 1 or 2) */
    ULONG HwMem;       /* ISA segment of the 4 KB card memory window */
    ULONG PcicBusPort; /* bus I/O address of the controller's index port */
    ULONG ComPort;     /* I/O base of the modem's COM port, never 0 */
    ULONG ComIrq;      /* IRQ of the modem's COM port, never 0 */
    PUCHAR AttrMem;    /* system address of the window: attribute address 0 */
    ULONG_PTR PcicPort; /* index port in the form the port operations take */
    ULONG Debug;       /* trace switch */
    UCHAR ConfigIndex; /* index of the configuration entry examined last */
    USHORT CorOffset;  /* attribute address of the configuration option register */
    UCHAR Signature[CM_SIGNATURE_SIZE]; /* product string read from the card */
} CmExtension, *PCmExtension;

#ifdef __cplusplus
}
#endif

#endif /* CMEXT_H */
