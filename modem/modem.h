/*
 * modem.h - the configuration sequence and its steps: defaults and serial
 * parameters, bus address mapping, and Cmcfg, which runs the card stages.
 */
#ifndef MODEM_H
#define MODEM_H

#include "cmext.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results of Cmcfg, which the driver returns as its load status. */
#define CMCFG_CONFIGURED 1
#define CMCFG_STAGE_FAILED 0
#define CMCFG_NO_PORT 0x20000   /* the controller's port was not translated */
#define CMCFG_NO_WINDOW 0x30000 /* no memory window segment was translated */

/* Memory-window search: segments 0xC800 up to 0xEE00 in steps of 0x100. */
#define CM_FIRST_SEGMENT 0xC800
#define CM_SEGMENT_LIMIT 0xEF00
#define CM_SEGMENT_STEP 0x100

/* Compiled-in defaults. */
#define CM_DEFAULT_PCIC_PORT 0x3E0
#define CM_DEFAULT_COM_PORT 0x2F8
#define CM_DEFAULT_COM_IRQ 3

/*
 * The value SetDefaults gives Debug. The kernel image takes it from the
 * build switch MODEM_DEBUG (0 unless set); the host build reads it from
 * ModemDebugDefault, which the simulated machine's loader sets before it
 * calls the entry routine, as a machine description asks.
 */
#ifdef MODEM_HOST_BUILD
extern ULONG ModemDebugDefault;
#define CM_DEBUG_DEFAULT ModemDebugDefault
#else
#ifndef MODEM_DEBUG
#define MODEM_DEBUG 0
#endif
#define CM_DEBUG_DEFAULT ((ULONG)(MODEM_DEBUG))
#endif

VOID SetDefaults(PCmExtension Ext);
ULONG MapIo(ULONG Port, ULONG_PTR *Result);
ULONG MapMem(ULONG Segment, PUCHAR *Result);
ULONG Cmcfg(PCmExtension Ext);

#ifdef __cplusplus
}
#endif

#endif /* MODEM_H */
