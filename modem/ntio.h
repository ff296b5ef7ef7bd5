/*
 * ntio.h - byte port output and input, the driver's only road to the ports.
 */
#ifndef NTIO_H
#define NTIO_H

#include "ntplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

VOID CMAC_outb(ULONG_PTR Port, ULONG Value);
UCHAR CMAC_inb(ULONG_PTR Port);

#ifdef __cplusplus
}
#endif

#endif /* NTIO_H */
