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

/* A link byte of 0xFF also ends the chain. */
#define CIS_LINK_END 0xFF

/* Controller identification bytes (register 0 of the first bank). */
#define CM_PCIC_ID_LOWEST 0x82 /* lowest accepted value */
#define CM_PCIC_ID_REFUSED 0xFF /* nothing answers: refused */
#define CM_PCIC_ID_TWO_BANKS 0x83 /* second try on socket 2 (bank 0x40) */
#define CM_PCIC_ID_VLSI 0x84 /* second try on socket 3 (bank 0x80), ports 4 higher */
#define CM_VLSI_PORT_SHIFT 4

/* What the thin stages ask of the controller. */
#define CM_MEM_WINDOW 0
#define CM_MEM_WINDOW_LENGTH 0x1000
#define CM_MEM_CARD_ADDRESS 0
#define CM_MEM_FLAGS 8 /* attribute memory, 8-bit data path, no added wait states */
#define CM_IO_WINDOW 0
#define CM_IO_PORT_COUNT 8 /* the register block of a COM port */
#define CM_IO_FLAGS 4 /* zero wait states, 8-bit data path */

/* Configuration-table entry layouts: the whole value of body byte 2. */
#define CM_ENTRY_LAYOUT_EA 0xEA /* I/O base in body bytes 4 (low) and 5 (high) */
#define CM_ENTRY_LAYOUT_BD 0xBD /* I/O base in body bytes L - 9 (low) and L - 8 (high) */
#define CM_CFTABLE_ENTRIES 4    /* entries examined, in chain order */
#define CM_CONFIG_INDEX_MASK 0x3F

/* Bits ORed into the configuration index for the COR: 0x40 is the
 * level-mode interrupt bit; 0x11 lie in the index field and are always set. */
#define CM_COR_BITS 0x51

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
