/*
 * cm.c - the card stages and the CIS reader.
 *
 * Cmcfg runs the stages in this order, stopping at the first that returns
 * CM_STAGE_FAILED: CmPcicEnable, CmPcicEnableMemory, CmParseTuples,
 * CmCheckForAdapterTuple, CmPcicEnableIo, CmPcicEnableIrq, CmWriteCor.
 *
 * The controller stages call the controller layer with the 1-based socket
 * number Socket + 1 and the mapped port PcicPort. The CIS stages read the
 * card's attribute memory, and write its one COR byte, directly through the
 * 4 KB window at AttrMem, whose byte a is attribute address a.
 *
 * The card is untrusted input. Whatever its CIS says, nothing here reads
 * outside the window or the 128-byte body buffer, or writes outside the
 * window; each place where a CIS value could lead there is marked below.
 */
#include "cm.h"
#include "ntpcic.h"

/* The product string the card must carry; CmCheckForAdapterTuple compares
 * its 23 characters. */
static const char CmProductName[] = "Nuvalt ThinPocket Modem";
#define CM_PRODUCT_NAME_LENGTH 23

/* Body byte k of a tuple lies at position 2k of the body buffer. */
#define BODY_BYTE(Body, k) ((Body)[2 * (k)])

/* The highest body byte the buffer holds: 128 positions, 64 body bytes. */
#define CM_LAST_BUFFERED_BODY_BYTE (CIS_BODY_BUFFER_SIZE / 2 - 1)

/* Smallest links from which the stages read: the product string takes body
 * bytes 2 to 24, the COR address body bytes 2 and 3. */
#define CM_VERS1_MIN_LINK 25
#define CM_CONFIG_MIN_LINK 4

/* Smallest entry links each layout needs: the layout byte is body byte 2,
 * the 0xEA layout reads up to body byte 5, the 0xBD layout reads body byte
 * L - 9 and so needs L of at least 9. */
#define CM_ENTRY_MIN_LINK_LAYOUT 3
#define CM_ENTRY_MIN_LINK_EA 6
#define CM_ENTRY_MIN_LINK_BD 9

/* ---------------------------------------------------------------------
 * Controller stages
 * --------------------------------------------------------------------- */

/*
 * Checks that an 82365SL-compatible controller answers at PcicPort, then
 * finds the socket that holds the card and has it powered up, reset and
 * waited for. The first attempt is always socket 1; when it finds no card,
 * an 0x83 controller is tried on socket 2, an 0x84 (VLSI) controller on
 * socket 3 through the port pair four ports higher, and any other accepted
 * controller on socket 1 again. A result of the controller layer other
 * than 1 ends the stage with that result.
 */
LONG CmPcicEnable(PCmExtension Ext)
{
    UCHAR Id;
    LONG Result;

    if (Ext->Debug)
        DbgPrint("Nuvalt: CmPcicEnable\n");

    Id = NtPCIC_Read_Reg((LONG)(Ext->Socket + 1), 0, Ext->PcicPort);
    if (Id < CM_PCIC_ID_LOWEST || Id == CM_PCIC_ID_REFUSED) {
        if (Ext->Debug)
            DbgPrint("Nuvalt: checkpcic failed, PCIC id byte is 0x%2X\n", (ULONG)Id);
        return CM_STAGE_FAILED;
    }
    if (Ext->Debug) {
        DbgPrint("Nuvalt: check passed PCIC id byte is 0x%2X\n", (ULONG)Id);
        DbgPrint("Nuvalt: check pcic offset 0\n");
    }

    Ext->Socket = 0;
    Result = NtPCIC_Enable(1, Ext->PcicPort);
    if (Result != CM_STAGE_FAILED)
        return Result;

    if (Id == CM_PCIC_ID_TWO_BANKS) {
        if (Ext->Debug)
            DbgPrint("Nuvalt: check pcic offset 40\n");
        Ext->Socket = 1;
    }
    if (Id == CM_PCIC_ID_VLSI) {
        if (Ext->Debug)
            DbgPrint("Nuvalt: check vlsi offset 80\n");
        Ext->Socket = 2;
        Ext->PcicBusPort += CM_VLSI_PORT_SHIFT;
        Ext->PcicPort += CM_VLSI_PORT_SHIFT;
    }

    Result = NtPCIC_Enable((LONG)(Ext->Socket + 1), Ext->PcicPort);
    if (Result != CM_STAGE_FAILED)
        return Result;

    if (Ext->Debug)
        DbgPrint("Nuvalt: CmPcicEnable failed\n");
    return CM_STAGE_FAILED;
}

/*
 * The closing trace line of a stage that makes one controller call: the
 * failure line for a result of 1, the success line otherwise. Hands the
 * result on unchanged.
 */
static LONG StageOutcome(PCmExtension Ext, LONG Result, PCSTR Failed, PCSTR Passed)
{
    if (Ext->Debug)
        DbgPrint(Result == CM_STAGE_FAILED ? Failed : Passed);
    return Result;
}

/*
 * Opens memory window 0 onto the card's attribute memory from card address
 * 0, at ISA address HwMem * 16, 4 KB long, 8 bits wide.
 */
LONG CmPcicEnableMemory(PCmExtension Ext)
{
    LONG Result;

    /* The port is shown in its 32 bits, as on the x86 target. */
    if (Ext->Debug)
        DbgPrint("Nuvalt: CmPcicEnableMemory %.8x %.8x\n", (ULONG)Ext->PcicPort, Ext->HwMem);

    Result = NtPCIC_Enable_Memory((LONG)(Ext->Socket + 1), CM_MEM_WINDOW, Ext->HwMem << 4,
                                  CM_MEM_WINDOW_LENGTH, CM_MEM_CARD_ADDRESS, CM_MEM_FLAGS,
                                  Ext->PcicPort);

    return StageOutcome(Ext, Result, "Nuvalt: CmPcicEnableMemory failed\n", "Nuvalt: CmPcicEnableMemory passed\n");
}

/* Opens I/O window 0 over the eight ports ComPort to ComPort + 7. */
LONG CmPcicEnableIo(PCmExtension Ext)
{
    LONG Result;

    if (Ext->Debug)
        DbgPrint("Nuvalt: CmPcicEnableIo\n");

    Result = NtPCIC_Enable_IO((LONG)(Ext->Socket + 1), CM_IO_WINDOW, Ext->ComPort,
                              CM_IO_PORT_COUNT, CM_IO_FLAGS, Ext->PcicPort);

    return StageOutcome(Ext, Result, "Nuvalt: CmPcicEnableIo failed\n", "Nuvalt: CmPcicEnableIo passed\n");
}

/* Steers the card's interrupt to ComIrq. */
LONG CmPcicEnableIrq(PCmExtension Ext)
{
    LONG Result;

    if (Ext->Debug)
        DbgPrint("Nuvalt: CmPcicEnableIrq\n");

    Result = NtPCIC_Enable_IRQ((LONG)(Ext->Socket + 1), 0, Ext->ComIrq, Ext->PcicPort);

    return StageOutcome(Ext, Result, "Nuvalt: CmPcicEnableIrq failed\n", "Nuvalt: CmPcicEnableIrq passed\n");
}

/* ---------------------------------------------------------------------
 * CIS reader
 * --------------------------------------------------------------------- */

/*
 * Finds the Occurrence-th tuple of code Code in the chain that starts at
 * attribute address 0 and copies its body, as the window shows it, into
 * Body: window bytes +4 to +3 + 2 * link, so that body byte k lands at
 * position 2k. Returns the tuple's link, or 0 when it is not found (a tuple
 * found with link 0 also gives 0). Code and Occurrence are compared in
 * their low 8 bits, the occurrence with an 8-bit counter.
 *
 * Every tuple has a link byte at +2, code 0x00 included, and only this one
 * chain is walked: link tuples are stepped over like any other. The end
 * marks (code 0xFF, link 0xFF) end the chain only on tuples of another
 * code; a tuple of the sought code is always counted, and when it is not
 * the one asked for it is stepped over by its link, 0xFF included.
 *
 * Bounds, because the CIS comes from the card:
 * - The walk reads no byte at or beyond window offset 0x1000. A chain that
 *   runs to the end of the window without the requested tuple is a missing
 *   tuple (0). Each step advances at least 4 bytes, so the walk ends after
 *   at most 1024 tuples even if the chain never does.
 * - A found tuple whose body would reach past the window's end is a
 *   missing tuple (0), the buffer untouched: a body cut off by the window
 *   is not the card's body.
 * - A found tuple with a link over 64 has a body longer than the buffer:
 *   only its first 128 bytes (64 body bytes) are copied and the link is
 *   returned as it stands; every reader checks the link against the body
 *   bytes it takes, so none reads past buffer position 127.
 *
 * Nothing outside Body changes; on every not-found path Body is unchanged.
 */
LONG ParseCis(PUCHAR Window, ULONG Code, ULONG Occurrence, PUCHAR Body)
{
    const volatile UCHAR *Mem = (const volatile UCHAR *)Window;
    UCHAR Sought = (UCHAR)Code;
    UCHAR Wanted = (UCHAR)Occurrence;
    UCHAR Count = 0;
    ULONG Offset = 0;
    ULONG Link;
    ULONG Length;
    ULONG i;

    for (;;) {
        UCHAR TupleCode;

        if (Offset >= CIS_WINDOW_SIZE)
            return 0;
        TupleCode = Mem[Offset];

        if (Offset + 2 >= CIS_WINDOW_SIZE)
            return 0;

        if (TupleCode == Sought) {
            Count = (UCHAR)(Count + 1);
            Link = Mem[Offset + 2];
            if (Count == Wanted) {
                if (Link == 0)
                    return 0;
                if (Offset + 4 + 2 * Link > CIS_WINDOW_SIZE)
                    return 0;
                Length = 2 * Link;
                if (Length > CIS_BODY_BUFFER_SIZE)
                    Length = CIS_BODY_BUFFER_SIZE;
                for (i = 0; i < Length; i++)
                    Body[i] = Mem[Offset + 4 + i];
                return (LONG)Link;
            }
        } else {
            if (TupleCode == CISTPL_END)
                return 0;
            Link = Mem[Offset + 2];
            if (Link == CIS_LINK_END)
                return 0;
        }
        Offset += 4 + 2 * Link;
    }
}

/* ---------------------------------------------------------------------
 * CIS stages
 * --------------------------------------------------------------------- */

/*
 * Examines one configuration-table entry of link L: its configuration index
 * (body byte 0, low six bits) goes to ConfigIndex whatever the entry holds,
 * and its I/O base is taken where its layout byte (body byte 2) says:
 * body bytes 4 and 5 for 0xEA, the ninth-last and eighth-last body bytes
 * for 0xBD, none (0) for any other layout. Returns 1 when the I/O base
 * equals ComPort.
 *
 * An entry too short to hold the bytes its layout names is not a match
 * (I/O base 0): the layout byte needs L of at least 3, the 0xEA layout at
 * least 6, the 0xBD layout at least 9. The 0xBD base must also lie within
 * the 64 body bytes the buffer holds (L - 8 at most 63): for L over 71 the
 * bytes it names were never copied, and the entry is not a match. Buffer
 * positions the entry did not fill hold another tuple's bytes, so none of
 * them is read as this entry's.
 */
LONG ParseCor(PCmExtension Ext, PUCHAR Body, LONG Link)
{
    ULONG IoBase = 0;
    UCHAR Layout;

    Ext->ConfigIndex = (UCHAR)(BODY_BYTE(Body, 0) & CM_CONFIG_INDEX_MASK);

    if (Link >= CM_ENTRY_MIN_LINK_LAYOUT) {
        Layout = BODY_BYTE(Body, 2);
        if (Layout == CM_ENTRY_LAYOUT_EA && Link >= CM_ENTRY_MIN_LINK_EA) {
            IoBase = (ULONG)BODY_BYTE(Body, 4) | ((ULONG)BODY_BYTE(Body, 5) << 8);
        } else if (Layout == CM_ENTRY_LAYOUT_BD && Link >= CM_ENTRY_MIN_LINK_BD &&
                   Link - 8 <= CM_LAST_BUFFERED_BODY_BYTE) {
            IoBase = (ULONG)BODY_BYTE(Body, Link - 9) | ((ULONG)BODY_BYTE(Body, Link - 8) << 8);
        }
    }

    if (Ext->Debug == 1)
        DbgPrint("Nuvalt: ParseCor %x io %x\n", (ULONG)Ext->ConfigIndex, IoBase);

    return IoBase == Ext->ComPort;
}

/*
 * Reads from the CIS the product string into Signature (from the first
 * VERS_1 tuple), the COR address into CorOffset (from the first CONFIG
 * tuple) and chooses, among the first four CFTABLE_ENTRY tuples, the first
 * whose I/O base is ComPort, leaving its index in ConfigIndex.
 *
 * The body buffer is cleared once at the start, so no read of it ever sees
 * leftover stack bytes. A tuple too short for the bytes taken from it counts
 * as missing and fails the stage: a VERS_1 link below 25 (the product
 * string is body bytes 2 to 24), with the record left as it was, and a
 * CONFIG link below 4 (the COR address is body bytes 2 and 3).
 */
LONG CmParseTuples(PCmExtension Ext)
{
    UCHAR Body[CIS_BODY_BUFFER_SIZE];
    LONG Link;
    ULONG i;
    ULONG Occurrence;

    for (i = 0; i < CIS_BODY_BUFFER_SIZE; i++)
        Body[i] = 0;

    if (Ext->Debug)
        DbgPrint("Nuvalt: CmParseTuples\n");

    Link = ParseCis(Ext->AttrMem, CISTPL_VERS_1, 1, Body);
    if (Link < CM_VERS1_MIN_LINK)
        return CM_STAGE_FAILED;

    /* Body bytes 2 to 7 are the manufacturer "Nuvalt", byte 8 its end, 9 to
     * 24 the product "ThinPocket Modem"; a space in place of the end joins
     * the two into one string. */
    for (i = 0; i < CM_SIGNATURE_SIZE - 1; i++)
        Ext->Signature[i] = BODY_BYTE(Body, i + 2);
    Ext->Signature[CM_SIGNATURE_SIZE - 1] = 0;
    Ext->Signature[6] = 0x20;

    if (Ext->Debug) {
        DbgPrint("Signature ");
        for (i = 0; i < CM_SIGNATURE_SIZE; i++)
            DbgPrint("0x%x ", (ULONG)Ext->Signature[i]);
        DbgPrint("\n");
    }

    Link = ParseCis(Ext->AttrMem, CISTPL_CONFIG, 1, Body);
    if (Link < CM_CONFIG_MIN_LINK)
        return CM_STAGE_FAILED;
    Ext->CorOffset = (USHORT)((ULONG)BODY_BYTE(Body, 2) | ((ULONG)BODY_BYTE(Body, 3) << 8));

    for (Occurrence = 1; Occurrence <= CM_CFTABLE_ENTRIES; Occurrence++) {
        Link = ParseCis(Ext->AttrMem, CISTPL_CFTABLE_ENTRY, Occurrence, Body);
        if (Link == 0)
            return CM_STAGE_FAILED;
        if (ParseCor(Ext, Body, Link))
            return CM_STAGE_PASSED;
    }
    return CM_STAGE_FAILED;
}

/* Accepts the card only if Signature's 23 characters read
 * "Nuvalt ThinPocket Modem", byte for byte and case-sensitive. */
LONG CmCheckForAdapterTuple(PCmExtension Ext)
{
    ULONG i;

    for (i = 0; i < CM_PRODUCT_NAME_LENGTH; i++) {
        if (Ext->Signature[i] != (UCHAR)CmProductName[i]) {
            if (Ext->Debug)
                DbgPrint("Nuvalt: signature failed\n");
            return CM_STAGE_FAILED;
        }
    }
    if (Ext->Debug)
        DbgPrint("Nuvalt: signature passed\n");
    return CM_STAGE_PASSED;
}

/*
 * Switches the card into the chosen configuration: one write of
 * ConfigIndex OR 0x51 to the COR at attribute address CorOffset, with no
 * read-back and no wait. This is the driver's last act on the card.
 *
 * CorOffset comes from the card's CONFIG tuple. An offset of 0x1000 or more
 * lies outside the 4 KB window: nothing is written and the stage fails, so
 * that the load does not report a configured card that was never switched
 * into its configuration.
 */
LONG CmWriteCor(PCmExtension Ext)
{
    volatile UCHAR *Mem = (volatile UCHAR *)Ext->AttrMem;

    if (Ext->Debug)
        DbgPrint("Nuvalt: CmWriteCor\n");

    if (Ext->CorOffset >= CIS_WINDOW_SIZE)
        return CM_STAGE_FAILED;

    Mem[Ext->CorOffset] = (UCHAR)(Ext->ConfigIndex | CM_COR_BITS);
    return CM_STAGE_PASSED;
}
