/*
 * cm.h - the seven card stages that Cmcfg runs, and the CIS reader.
 *
 * Each stage takes the record and returns a stage status: 0 passed, 1 failed
 * (Cmcfg counts only 1 as failure).
 */
#ifndef CM_H
#define CM_H

#include "cmext.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CM_STAGE_PASSED 0
#define CM_STAGE_FAILED 1

#define CIS_WINDOW_SIZE 0x1000 /* the 4 KB attribute-memory window */
#define CIS_BODY_BUFFER_SIZE 128

/* Tuple codes the driver looks for. */
#define CISTPL_VERS_1 0x15
#define CISTPL_CONFIG 0x1A
#define CISTPL_CFTABLE_ENTRY 0x1B
#define CISTPL_END 0xFF

LONG CmPcicEnable(PCmExtension Ext);
LONG CmPcicEnableMemory(PCmExtension Ext);
LONG CmParseTuples(PCmExtension Ext);
LONG CmCheckForAdapterTuple(PCmExtension Ext);
LONG CmPcicEnableIo(PCmExtension Ext);
LONG CmPcicEnableIrq(PCmExtension Ext);
LONG CmWriteCor(PCmExtension Ext);

LONG ParseCis(PUCHAR Window, ULONG Code, ULONG Occurrence, PUCHAR Body);
LONG ParseCor(PCmExtension Ext, PUCHAR Body, LONG Link);

#ifdef __cplusplus
}
#endif

#endif /* CM_H */
