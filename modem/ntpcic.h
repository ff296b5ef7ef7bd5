/*
 * ntpcic.h - timed waits and the 82365SL-compatible socket controller:
 * register access per socket, socket power-up and reset, memory and I/O
 * windows and interrupt steering.
 *
 * Socket numbers are 1-based: socket n is served by register bank
 * (n - 1) * 0x40. Wait counts are in units of 100 microseconds.
 */
#ifndef NTPCIC_H
#define NTPCIC_H

#include "ntplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

VOID Ntusecwait(LONG Count);
UCHAR NtPCIC_Read_Reg(LONG Socket, ULONG Reg, ULONG_PTR Port);
VOID NtPCIC_Write_Reg(LONG Socket, ULONG Reg, ULONG Value, ULONG_PTR Port);

LONG NtPCIC_Enable(LONG Socket, ULONG_PTR Port);
LONG NtPCIC_Enable_Memory(LONG Socket, ULONG Window, ULONG SysAddr, ULONG Length,
                          ULONG CardAddr, ULONG Flags, ULONG_PTR Port);
LONG NtPCIC_Enable_IO(LONG Socket, ULONG Window, ULONG FirstPort, ULONG Count, ULONG Flags,
                      ULONG_PTR Port);
LONG NtPCIC_Enable_IRQ(LONG Socket, ULONG Ignored, ULONG Irq, ULONG_PTR Port);

#ifdef __cplusplus
}
#endif

#endif /* NTPCIC_H */
