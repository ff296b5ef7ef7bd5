/*
 * pcicreg.h - the Intel 82365SL (ExCA) socket controller register set, as
 * the driver programs it and the simulated controller answers it.
 *
 * One header for both sides: the driver (freestanding C11) and the
 * controller model (C++20) take every register index, bank offset and bit
 * from here, so the two can never disagree on a number. Everything is a
 * plain integer constant expression, usable in C and C++ alike.
 *
 * The controller is reached through an index port and a data port at the
 * next address: the index port selects one of 256 registers, the data port
 * reads or writes it. Each socket has a bank of PCIC_BANK_SIZE registers;
 * the banks of up to PCIC_BANK_COUNT sockets lie one after another.
 * Register indices below are within a bank.
 */
#ifndef PCICREG_H
#define PCICREG_H

#ifdef __cplusplus
#define PCIC_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define PCIC_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* ---- Ports and banks ---- */
#define PCIC_DATA_PORT_OFFSET 1 /* data port = index port + 1 */
#define PCIC_BANK_SIZE 0x40
#define PCIC_BANK_COUNT 4
#define PCIC_REG_COUNT (PCIC_BANK_SIZE * PCIC_BANK_COUNT)
/* Index of register r in bank b (0-based bank, socket number minus 1). */
#define PCIC_INDEX(b, r) ((b) * PCIC_BANK_SIZE + (r))
/* Register within its bank, and bank, of a full 8-bit index. */
#define PCIC_REG_OF(index) ((index) % PCIC_BANK_SIZE)
#define PCIC_BANK_OF(index) ((index) / PCIC_BANK_SIZE)

/* ---- Per-socket registers ---- */

/* Identification and Revision, 0x00, RO. */
#define PCIC_ID_REV 0x00

/* Interface Status, 0x01, RO. */
#define PCIC_IF_STATUS 0x01
#define PCIC_IF_STATUS_BVD1 0x01      /* battery voltage detect 1 (STSCHG#) */
#define PCIC_IF_STATUS_BVD2 0x02      /* battery voltage detect 2 (SPKR#) */
#define PCIC_IF_STATUS_BVD_GOOD 0x03  /* both: battery good */
#define PCIC_IF_STATUS_CD1 0x04       /* card detect 1 */
#define PCIC_IF_STATUS_CD2 0x08       /* card detect 2 */
#define PCIC_IF_STATUS_CD_MASK 0x0C
#define PCIC_IF_STATUS_WP 0x10        /* memory write protect */
#define PCIC_IF_STATUS_READY 0x20     /* card RDY/BSY# reports ready */
#define PCIC_IF_STATUS_POWER 0x40     /* card power active */
#define PCIC_IF_STATUS_GPI 0x80       /* general purpose input (VPP_VALID on later chips) */

/* Power and RESETDRV Control, 0x02, RW. */
#define PCIC_POWER 0x02
#define PCIC_POWER_OUTPUT_ENABLE 0x80
#define PCIC_POWER_DISABLE_RESUME_RESETDRV 0x40
#define PCIC_POWER_AUTO_POWER 0x20
#define PCIC_POWER_VCC_ENABLE 0x10
#define PCIC_POWER_VPP2_MASK 0x0C
#define PCIC_POWER_VPP2_VCC 0x04      /* Vpp2 connected to Vcc */
#define PCIC_POWER_VPP1_MASK 0x03
#define PCIC_POWER_VPP1_VCC 0x01      /* Vpp1 connected to Vcc */

/* Interrupt and General Control, 0x03, RW. */
#define PCIC_INTR 0x03
#define PCIC_INTR_RING_ENABLE 0x80
#define PCIC_INTR_RESET_RELEASE 0x40  /* the datasheet's RESET# bit: 0 holds the card in reset */
#define PCIC_INTR_IO_CARD 0x20        /* 1: I/O card interface, 0: memory card interface */
#define PCIC_INTR_MGMT_ENABLE 0x10    /* status-change interrupt goes out on the card's IRQ */
#define PCIC_INTR_IRQ_MASK 0x0F       /* ISA level the card interrupt is steered to; 0 none */

/* Card Status Change, 0x04, RW (read clears on the real part; the driver never touches it). */
#define PCIC_CSC 0x04

/* Card Status Change Interrupt Configuration, 0x05, RW. */
#define PCIC_CSC_INTR 0x05
#define PCIC_CSC_INTR_IRQ_MASK 0xF0   /* management interrupt level */
#define PCIC_CSC_INTR_EVENT_MASK 0x0F /* per-event enables */

/* Address Window Enable, 0x06, RW. */
#define PCIC_WIN_ENABLE 0x06
#define PCIC_WIN_ENABLE_MEM(w) (0x01 << (w)) /* memory window w, 0..4 */
#define PCIC_WIN_ENABLE_MEM_MASK 0x1F
#define PCIC_WIN_ENABLE_MEMCS16 0x20  /* MEMCS16# decoded from A23..A12 (full decode) */
#define PCIC_WIN_ENABLE_IO(w) (0x40 << (w)) /* I/O window w, 0..1 */

/* I/O Control, 0x07, RW: one 4-bit field per I/O window. */
#define PCIC_IO_CTRL 0x07
#define PCIC_IO_CTRL_SHIFT(w) (4 * (w))
#define PCIC_IO_CTRL_FIELD_MASK 0x0F
#define PCIC_IO_CTRL_DATA16 0x01      /* 16-bit data path */
#define PCIC_IO_CTRL_IOCS16 0x02      /* data size from the card's IOCS16# */
#define PCIC_IO_CTRL_ZERO_WS 0x04     /* zero wait states */
#define PCIC_IO_CTRL_ONE_WS 0x08      /* one added wait state */

/* ---- I/O windows: blocks of four registers at 0x08 and 0x0C, RW ---- */
#define PCIC_IO_WINDOWS 2
#define PCIC_IO_WIN_BLOCK 4
#define PCIC_IO_WIN(w) (0x08 + PCIC_IO_WIN_BLOCK * (w))
#define PCIC_IO_START_LOW 0           /* first port, bits 7..0 */
#define PCIC_IO_START_HIGH 1          /* first port, bits 15..8 */
#define PCIC_IO_STOP_LOW 2            /* last port, bits 7..0 */
#define PCIC_IO_STOP_HIGH 3           /* last port, bits 15..8 */

/* ---- Memory windows: blocks of eight registers at 0x10 + 8 * w, RW ----
 * Addresses are in 4 KB pages: the low 12 address bits are not decoded. */
#define PCIC_MEM_WINDOWS 5
#define PCIC_MEM_WIN_BLOCK 8
#define PCIC_MEM_WIN(w) (0x10 + PCIC_MEM_WIN_BLOCK * (w))
#define PCIC_MEM_PAGE_SHIFT 12
#define PCIC_MEM_START_LOW 0          /* system address bits 19..12 of the first page */
#define PCIC_MEM_START_HIGH 1
#define PCIC_MEM_START_DATA16 0x80    /* 16-bit data path */
#define PCIC_MEM_START_ZERO_WS 0x40   /* zero wait state */
#define PCIC_MEM_START_ADDR_MASK 0x0F /* system address bits 23..20 */
#define PCIC_MEM_STOP_LOW 2           /* system address bits 19..12 of the last page */
#define PCIC_MEM_STOP_HIGH 3
#define PCIC_MEM_STOP_WS_MASK 0xC0    /* wait-state selection */
#define PCIC_MEM_STOP_ADDR_MASK 0x0F  /* system address bits 23..20 */
#define PCIC_MEM_OFFSET_LOW 4         /* card offset bits 19..12 */
#define PCIC_MEM_OFFSET_HIGH 5
#define PCIC_MEM_OFFSET_WP 0x80       /* write protect */
#define PCIC_MEM_OFFSET_ATTR 0x40     /* REG#: the window reaches attribute memory */
#define PCIC_MEM_OFFSET_ADDR_MASK 0x3F /* card offset bits 25..20 */
/* The card offset is a 14-bit page count added modulo 2^26 (64 MB of card space). */
#define PCIC_MEM_OFFSET_PAGE_BITS 14
#define PCIC_CARD_ADDR_BITS 26
/* System addresses are 24 bits (the ISA memory space). */
#define PCIC_SYS_ADDR_BITS 24

/* ---- Checks that keep the layout consistent ---- */
PCIC_STATIC_ASSERT(PCIC_REG_COUNT == 256, "four banks of 0x40 fill the 8-bit index space");
PCIC_STATIC_ASSERT(PCIC_INDEX(1, PCIC_IF_STATUS) == 0x41, "bank 1 starts at 0x40");
PCIC_STATIC_ASSERT(PCIC_INDEX(3, 0x15) == 0xD5, "bank 3 starts at 0xC0");
PCIC_STATIC_ASSERT(PCIC_REG_OF(0xD5) == 0x15 && PCIC_BANK_OF(0xD5) == 3, "index splits into bank and register");
PCIC_STATIC_ASSERT(PCIC_IO_WIN(0) == 0x08 && PCIC_IO_WIN(1) == 0x0C, "I/O window blocks");
PCIC_STATIC_ASSERT(PCIC_IO_WIN(PCIC_IO_WINDOWS) == PCIC_MEM_WIN(0), "I/O blocks end where memory blocks start");
PCIC_STATIC_ASSERT(PCIC_MEM_WIN(0) == 0x10 && PCIC_MEM_WIN(4) == 0x30, "memory window blocks");
PCIC_STATIC_ASSERT(PCIC_MEM_WIN(PCIC_MEM_WINDOWS - 1) + PCIC_MEM_OFFSET_HIGH < PCIC_BANK_SIZE,
                   "the last memory window's block fits its bank");
PCIC_STATIC_ASSERT(PCIC_WIN_ENABLE_MEM(PCIC_MEM_WINDOWS - 1) == 0x10, "memory window 4 enable bit");
PCIC_STATIC_ASSERT((PCIC_WIN_ENABLE_MEM_MASK & (PCIC_WIN_ENABLE_MEMCS16 | PCIC_WIN_ENABLE_IO(0) |
                                                PCIC_WIN_ENABLE_IO(1))) == 0,
                   "memory enables, full decode and I/O enables do not overlap");
PCIC_STATIC_ASSERT(PCIC_WIN_ENABLE_IO(0) == 0x40 && PCIC_WIN_ENABLE_IO(1) == 0x80, "I/O window enable bits");
PCIC_STATIC_ASSERT(PCIC_IO_CTRL_FIELD_MASK << PCIC_IO_CTRL_SHIFT(1) == 0xF0, "window 1 control field");
PCIC_STATIC_ASSERT(PCIC_IF_STATUS_CD_MASK == (PCIC_IF_STATUS_CD1 | PCIC_IF_STATUS_CD2), "card detect bits");
PCIC_STATIC_ASSERT((PCIC_POWER_OUTPUT_ENABLE | PCIC_POWER_DISABLE_RESUME_RESETDRV | PCIC_POWER_AUTO_POWER |
                    PCIC_POWER_VCC_ENABLE | PCIC_POWER_VPP2_MASK | PCIC_POWER_VPP1_MASK) == 0xFF,
                   "power register fields cover the byte");
PCIC_STATIC_ASSERT((PCIC_INTR_RING_ENABLE | PCIC_INTR_RESET_RELEASE | PCIC_INTR_IO_CARD |
                    PCIC_INTR_MGMT_ENABLE | PCIC_INTR_IRQ_MASK) == 0xFF,
                   "interrupt register fields cover the byte");
PCIC_STATIC_ASSERT(PCIC_MEM_OFFSET_ADDR_MASK + 1 == 1 << (PCIC_MEM_OFFSET_PAGE_BITS - 8),
                   "offset high holds the top six of fourteen page bits");
PCIC_STATIC_ASSERT(PCIC_MEM_PAGE_SHIFT + PCIC_MEM_OFFSET_PAGE_BITS == PCIC_CARD_ADDR_BITS,
                   "a 14-bit page offset spans the 26-bit card space");
PCIC_STATIC_ASSERT(PCIC_MEM_PAGE_SHIFT + 8 + 4 == PCIC_SYS_ADDR_BITS,
                   "start/stop low and the high nibble span the 24-bit system space");

#endif /* PCICREG_H */
