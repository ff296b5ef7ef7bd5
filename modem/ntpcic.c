/*
 * ntpcic.c - timed waits and socket controller programming.
 *
 * Every controller register access goes through NtPCIC_Read_Reg and
 * NtPCIC_Write_Reg, which write the register index anew each time (the
 * index is never cached) and reach the ports only through CMAC_outb and
 * CMAC_inb. A change of some bits of a register is a read, an AND or OR,
 * and a write. Every wait is Ntusecwait, built from 1 microsecond stalls.
 *
 * Socket numbers are 1-based; socket n is served by register bank n - 1.
 */
#include "ntpcic.h"
#include "ntio.h"
#include "pcicreg.h"

/* Stall calls of 1 microsecond per wait count: one count is 100 us. */
#define STALLS_PER_COUNT 100

/* Wait counts (units of 100 us). */
#define WAIT_POWER_OFF 100      /* 10 ms with the socket switched off */
#define WAIT_POWER_ON 20000     /* 2 s for the card supply to settle */
#define WAIT_OUTPUTS_ON 50      /* 5 ms after the card signals are driven */
#define WAIT_READY_POLL 200     /* 20 ms before each ready poll, and after ready */
#define WAIT_IO_STEP 200        /* 20 ms between the I/O window steps */
#define WAIT_IO_OPEN 1000       /* 100 ms after the I/O window opens */
#define WAIT_IRQ_STEERED 1000   /* 100 ms after the interrupt steering is set */

#define READY_POLLS 100

/* Socket power-up values of Power and RESETDRV Control. */
#define POWER_OFF_KEEP (0xFF & ~(PCIC_POWER_OUTPUT_ENABLE | PCIC_POWER_VCC_ENABLE)) /* 0x6F */
#define POWER_ON_OUTPUTS_OFF (PCIC_POWER_VCC_ENABLE | PCIC_POWER_VPP2_VCC | PCIC_POWER_VPP1_VCC) /* 0x15 */
#define POWER_ON_OUTPUTS_ON (POWER_ON_OUTPUTS_OFF | PCIC_POWER_OUTPUT_ENABLE) /* 0x95 */

PCIC_STATIC_ASSERT(POWER_OFF_KEEP == 0x6F, "outputs and card power cleared, the rest kept");
PCIC_STATIC_ASSERT(POWER_ON_OUTPUTS_OFF == 0x15, "Vcc on, Vpp1 and Vpp2 at Vcc");
PCIC_STATIC_ASSERT(POWER_ON_OUTPUTS_ON == 0x95, "the same with outputs driven");

/* Access flags of NtPCIC_Enable_Memory. */
#define MEM_FLAG_DATA16 0x04    /* 16-bit data path */
#define MEM_FLAG_ATTRIBUTE 0x08 /* attribute memory rather than common memory */
#define MEM_FLAG_WAIT_MASK 0xC0 /* wait-state selection, copied to stop high */

/* Results of NtPCIC_Enable. */
#define ENABLE_READY 0
#define ENABLE_NO_CARD 1

VOID Ntusecwait(LONG Count)
{
    LONG n;
    LONG i;

    for (n = 0; n < Count; n++) {
        for (i = 0; i < STALLS_PER_COUNT; i++)
            KeStallExecutionProcessor(1);
    }
}

/* The index byte of register Reg of socket number Socket; only its low 8
 * bits reach the index port. Computed unsigned so that no socket number can
 * overflow a signed value. */
static ULONG RegisterIndex(LONG Socket, ULONG Reg)
{
    return ((ULONG)Socket - 1u) * PCIC_BANK_SIZE + Reg;
}

UCHAR NtPCIC_Read_Reg(LONG Socket, ULONG Reg, ULONG_PTR Port)
{
    CMAC_outb(Port, RegisterIndex(Socket, Reg));
    return CMAC_inb(Port + PCIC_DATA_PORT_OFFSET);
}

VOID NtPCIC_Write_Reg(LONG Socket, ULONG Reg, ULONG Value, ULONG_PTR Port)
{
    CMAC_outb(Port, RegisterIndex(Socket, Reg));
    CMAC_outb(Port + PCIC_DATA_PORT_OFFSET, Value);
}

/*
 * Takes the card in the socket from whatever state it is in to powered, out
 * of reset and ready: the socket is switched off with the card held in
 * reset, powered, its outputs enabled, the reset released, and the card's
 * ready line polled up to READY_POLLS times.
 *
 * Returns ENABLE_NO_CARD (1) at once, after a single register read and
 * without writing anything, when neither card-detect contact reports a
 * card (either one alone counts as a card). Returns ENABLE_READY (0) once
 * the card reports ready.
 *
 * A card that has not reported ready by the last poll also gets
 * ENABLE_NO_CARD. The caller then treats the socket as empty: it tries its
 * other socket choice or fails, so the driver never goes on to read the
 * card information structure of a card that is not ready, nor writes its
 * configuration option register. The socket is left as the sequence left
 * it (powered, outputs on, reset released): nothing is written after the
 * reset release, so the register sequence stays the same whatever the card
 * does.
 */
LONG NtPCIC_Enable(LONG Socket, ULONG_PTR Port)
{
    UCHAR Status;
    UCHAR Power;
    LONG Poll;

    Status = NtPCIC_Read_Reg(Socket, PCIC_IF_STATUS, Port);
    if ((Status & PCIC_IF_STATUS_CD_MASK) == 0)
        return ENABLE_NO_CARD;

    /* No status-change interrupt; card in reset, memory interface, no steering. */
    NtPCIC_Write_Reg(Socket, PCIC_CSC_INTR, 0x00, Port);
    NtPCIC_Write_Reg(Socket, PCIC_INTR, 0x00, Port);

    /* Outputs off and card power off, every other bit as it was. */
    Power = NtPCIC_Read_Reg(Socket, PCIC_POWER, Port);
    NtPCIC_Write_Reg(Socket, PCIC_POWER, (ULONG)(Power & POWER_OFF_KEEP), Port);
    Ntusecwait(WAIT_POWER_OFF);

    NtPCIC_Write_Reg(Socket, PCIC_POWER, POWER_ON_OUTPUTS_OFF, Port);
    Ntusecwait(WAIT_POWER_ON);

    NtPCIC_Write_Reg(Socket, PCIC_POWER, POWER_ON_OUTPUTS_ON, Port);
    Ntusecwait(WAIT_OUTPUTS_ON);

    NtPCIC_Write_Reg(Socket, PCIC_INTR, PCIC_INTR_RESET_RELEASE, Port);

    /* The wait comes before each read, never after the last failed one. */
    for (Poll = 0; Poll < READY_POLLS; Poll++) {
        Ntusecwait(WAIT_READY_POLL);
        Status = NtPCIC_Read_Reg(Socket, PCIC_IF_STATUS, Port);
        if (Status & PCIC_IF_STATUS_READY) {
            Ntusecwait(WAIT_READY_POLL);
            return ENABLE_READY;
        }
    }
    return ENABLE_NO_CARD; /* never ready: treated as no usable card (see above) */
}

/*
 * Maps card memory into the ISA memory space through memory window Window
 * (0..4) of the socket: start and stop pages, the card offset (card address
 * minus system address, in pages, modulo 2^26) and the access flags, then
 * enables the window with full decode and selects the I/O card interface.
 * The window is not switched off while its registers are rewritten, and
 * nothing here waits.
 *
 * A window number outside 0..4 names no register block and no enable bit:
 * such a call writes nothing at all (rather than scribbling over registers
 * of another window or of the next socket's bank) and returns 0 like every
 * other call.
 */
LONG NtPCIC_Enable_Memory(LONG Socket, ULONG Window, ULONG SysAddr, ULONG Length, ULONG CardAddr,
                          ULONG Flags, ULONG_PTR Port)
{
    ULONG Block;
    ULONG Enable;
    ULONG End;
    ULONG Offset;
    ULONG Value;

    if (Window >= PCIC_MEM_WINDOWS)
        return 0;

    Block = PCIC_MEM_WIN(Window);
    Enable = PCIC_WIN_ENABLE_MEM(Window);

    NtPCIC_Write_Reg(Socket, Block + PCIC_MEM_START_LOW, (SysAddr >> PCIC_MEM_PAGE_SHIFT) & 0xFF, Port);
    Value = (SysAddr >> (PCIC_MEM_PAGE_SHIFT + 8)) & PCIC_MEM_START_ADDR_MASK;
    if (Flags & MEM_FLAG_DATA16)
        Value |= PCIC_MEM_START_DATA16;
    NtPCIC_Write_Reg(Socket, Block + PCIC_MEM_START_HIGH, Value, Port);

    End = SysAddr + Length - 1u; /* the window's last byte; wraps like the hardware adder */
    NtPCIC_Write_Reg(Socket, Block + PCIC_MEM_STOP_LOW, (End >> PCIC_MEM_PAGE_SHIFT) & 0xFF, Port);
    Value = ((End >> (PCIC_MEM_PAGE_SHIFT + 8)) & PCIC_MEM_STOP_ADDR_MASK) | (Flags & MEM_FLAG_WAIT_MASK);
    NtPCIC_Write_Reg(Socket, Block + PCIC_MEM_STOP_HIGH, Value, Port);

    Offset = CardAddr - SysAddr; /* two's complement below zero: the controller adds modulo 2^26 */
    NtPCIC_Write_Reg(Socket, Block + PCIC_MEM_OFFSET_LOW, (Offset >> PCIC_MEM_PAGE_SHIFT) & 0xFF, Port);
    Value = (Offset >> (PCIC_MEM_PAGE_SHIFT + 8)) & PCIC_MEM_OFFSET_ADDR_MASK;
    if (Flags & MEM_FLAG_ATTRIBUTE)
        Value |= PCIC_MEM_OFFSET_ATTR;
    NtPCIC_Write_Reg(Socket, Block + PCIC_MEM_OFFSET_HIGH, Value, Port);

    Value = NtPCIC_Read_Reg(Socket, PCIC_WIN_ENABLE, Port);
    NtPCIC_Write_Reg(Socket, PCIC_WIN_ENABLE, Value | Enable | PCIC_WIN_ENABLE_MEMCS16, Port);

    Value = NtPCIC_Read_Reg(Socket, PCIC_INTR, Port);
    NtPCIC_Write_Reg(Socket, PCIC_INTR, Value | PCIC_INTR_IO_CARD, Port);
    return 0;
}

/*
 * Passes the ISA ports FirstPort .. FirstPort + Count - 1 through to the
 * card through I/O window 0 (Window 0) or 1 (any other value). The start and
 * stop registers and the control field are written in whatever state the
 * window was found; the window is then switched off and on again. Control
 * bits already set in the window's field stay set.
 */
LONG NtPCIC_Enable_IO(LONG Socket, ULONG Window, ULONG FirstPort, ULONG Count, ULONG Flags,
                      ULONG_PTR Port)
{
    ULONG w;
    ULONG Block;
    ULONG Enable;
    ULONG Control;
    ULONG Last;
    ULONG Value;

    Value = NtPCIC_Read_Reg(Socket, PCIC_INTR, Port);
    NtPCIC_Write_Reg(Socket, PCIC_INTR, Value | PCIC_INTR_IO_CARD, Port);
    Ntusecwait(WAIT_IO_STEP);

    w = (Window == 0) ? 0 : 1;
    Block = PCIC_IO_WIN(w);
    Enable = PCIC_WIN_ENABLE_IO(w);
    Control = (Flags & PCIC_IO_CTRL_FIELD_MASK) << PCIC_IO_CTRL_SHIFT(w);
    Last = FirstPort + Count - 1u;

    NtPCIC_Write_Reg(Socket, Block + PCIC_IO_START_LOW, FirstPort & 0xFF, Port);
    NtPCIC_Write_Reg(Socket, Block + PCIC_IO_START_HIGH, (FirstPort >> 8) & 0xFF, Port);
    NtPCIC_Write_Reg(Socket, Block + PCIC_IO_STOP_LOW, Last & 0xFF, Port);
    NtPCIC_Write_Reg(Socket, Block + PCIC_IO_STOP_HIGH, (Last >> 8) & 0xFF, Port);

    Value = NtPCIC_Read_Reg(Socket, PCIC_IO_CTRL, Port);
    NtPCIC_Write_Reg(Socket, PCIC_IO_CTRL, Value | Control, Port);
    Ntusecwait(WAIT_IO_STEP);

    Value = NtPCIC_Read_Reg(Socket, PCIC_WIN_ENABLE, Port) & ~Enable;
    NtPCIC_Write_Reg(Socket, PCIC_WIN_ENABLE, Value, Port);
    Ntusecwait(WAIT_IO_STEP);

    NtPCIC_Write_Reg(Socket, PCIC_WIN_ENABLE, Value | Enable, Port);
    Ntusecwait(WAIT_IO_OPEN);
    return 0;
}

/*
 * Steers the card's interrupt to ISA level Irq (its low four bits; 0 means
 * none). The whole register is replaced: reset stays released, the I/O card
 * interface stays selected, ring indicate and management interrupt are off.
 * The second argument plays no part.
 */
LONG NtPCIC_Enable_IRQ(LONG Socket, ULONG Ignored, ULONG Irq, ULONG_PTR Port)
{
    (void)Ignored;
    NtPCIC_Write_Reg(Socket, PCIC_INTR,
                     (Irq & PCIC_INTR_IRQ_MASK) | PCIC_INTR_RESET_RELEASE | PCIC_INTR_IO_CARD, Port);
    Ntusecwait(WAIT_IRQ_STEERED);
    return 0;
}
