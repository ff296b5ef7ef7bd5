/*
 * krnldrvr.h - the driver's entry and unload routines.
 */
#ifndef KRNLDRVR_H
#define KRNLDRVR_H

#include "ntplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
VOID NTAPI KdvrUnloadDriver(PDRIVER_OBJECT DriverObject);

#ifdef __cplusplus
}
#endif

#endif /* KRNLDRVR_H */
