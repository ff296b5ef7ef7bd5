/*
 * modem.c - the configuration record's defaults and serial parameters, the
 * bus address mapping, and Cmcfg, the ordered configuration sequence.
 */
#include "modem.h"
#include "cm.h"

#ifdef MODEM_HOST_BUILD
ULONG ModemDebugDefault;
#endif

static const WCHAR Serial1Key[] =
    u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters\\Serial1";
static const WCHAR Serial10000Key[] =
    u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters\\Serial10000";
static const WCHAR PortAddressName[] = u"PortAddress";
static const WCHAR InterruptName[] = u"Interrupt";

/*
 * Fills the record with its defaults, then takes the COM port's I/O base and
 * IRQ from the serial driver's parameters: key Serial1, or Serial10000 when
 * Serial1 cannot be read. A value of 0 never replaces a default.
 */
VOID SetDefaults(PCmExtension Ext)
{
    ULONG userio = 0;
    ULONG userirq = 0;
    RTL_QUERY_REGISTRY_TABLE Table[3];
    NTSTATUS Status;
    int i;

    Ext->Socket = 0;
    Ext->HwMem = CM_FIRST_SEGMENT;
    Ext->PcicBusPort = CM_DEFAULT_PCIC_PORT;
    Ext->ComPort = CM_DEFAULT_COM_PORT;
    Ext->ComIrq = CM_DEFAULT_COM_IRQ;
    Ext->Debug = CM_DEBUG_DEFAULT;
    Ext->ConfigIndex = 0;

    /* Two direct entries, each defaulting to the field it is to replace, and
     * the all-zero entry that ends the table. */
    for (i = 0; i < 3; i++) {
        Table[i].QueryRoutine = NULL;
        Table[i].Flags = 0;
        Table[i].Name = NULL;
        Table[i].EntryContext = NULL;
        Table[i].DefaultType = REG_NONE;
        Table[i].DefaultData = NULL;
        Table[i].DefaultLength = 0;
    }
    Table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
    Table[0].Name = (PWSTR)PortAddressName;
    Table[0].EntryContext = &userio;
    Table[0].DefaultType = REG_DWORD;
    Table[0].DefaultData = &Ext->ComPort;
    Table[0].DefaultLength = sizeof(ULONG);
    Table[1].Flags = RTL_QUERY_REGISTRY_DIRECT;
    Table[1].Name = (PWSTR)InterruptName;
    Table[1].EntryContext = &userirq;
    Table[1].DefaultType = REG_DWORD;
    Table[1].DefaultData = &Ext->ComIrq;
    Table[1].DefaultLength = sizeof(ULONG);

    Status = RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, Serial1Key, Table, NULL, NULL);
    if (Ext->Debug) {
        DbgPrint("Nuvalt: read registry serial1 status %x", Status);
        DbgPrint(" userio %.x", userio);
        DbgPrint(" userirq %.x\n", userirq);
    }

    if (Status < 0) {
        Status = RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, Serial10000Key, Table, NULL, NULL);
        if (Ext->Debug) {
            DbgPrint("Nuvalt: read registry serial10000 status %x", Status);
            DbgPrint(" userio %.x", userio);
            DbgPrint(" userirq %.x\n", userirq);
        }
    }

    if (userio)
        Ext->ComPort = userio;
    if (userirq)
        Ext->ComIrq = userirq;
}

/*
 * Translates an ISA bus address in the given address space (1 I/O, 0
 * memory) and, when it lands in memory space, maps Length bytes of it.
 * Returns 1 with the usable address stored, or 0 with nothing stored: a
 * failed translation, or a mapping call that returned no address (the
 * sequence reads and writes through a stored address without testing it, so
 * it must never store a null one).
 */
static ULONG MapBusAddress(ULONG BusLow, ULONG InitialSpace, SIZE_T Length, ULONG_PTR *Result)
{
    PHYSICAL_ADDRESS Bus;
    PHYSICAL_ADDRESS Translated;
    ULONG AddressSpace = InitialSpace;
    PVOID Mapped;

    Bus.u.LowPart = BusLow;
    Bus.u.HighPart = 0;
    Translated.QuadPart = 0;
    if (!HalTranslateBusAddress(Isa, 0, Bus, &AddressSpace, &Translated))
        return 0;

    if (AddressSpace) {
        *Result = (ULONG_PTR)Translated.u.LowPart;
        return 1;
    }

    Mapped = MmMapIoSpace(Translated, Length, MmNonCached);
    if (Mapped == NULL)
        return 0;
    *Result = (ULONG_PTR)Mapped;
    return 1;
}

/* The controller's ports: six from the base, the pair four ports up included. */
ULONG MapIo(ULONG Port, ULONG_PTR *Result)
{
    return MapBusAddress(Port, 1, 6, Result);
}

/* One 4 KB window of ISA memory at segment * 16. */
ULONG MapMem(ULONG Segment, PUCHAR *Result)
{
    ULONG_PTR Address;

    if (!MapBusAddress(Segment << 4, 0, 0x1000, &Address))
        return 0;
    *Result = (PUCHAR)Address;
    return 1;
}

typedef LONG (*CmStage)(PCmExtension Ext);

ULONG Cmcfg(PCmExtension Ext)
{
    static CmStage const Stages[] = {
        CmPcicEnable,  CmPcicEnableMemory, CmParseTuples, CmCheckForAdapterTuple,
        CmPcicEnableIo, CmPcicEnableIrq,   CmWriteCor,
    };
    unsigned i;

    SetDefaults(Ext);

    if (!MapIo(Ext->PcicBusPort, &Ext->PcicPort))
        return CMCFG_NO_PORT;

    for (Ext->HwMem = CM_FIRST_SEGMENT; Ext->HwMem < CM_SEGMENT_LIMIT;
         Ext->HwMem += CM_SEGMENT_STEP) {
        if (Ext->Debug == 1)
            DbgPrint("Nuvalt: HwMem %.8x\n", Ext->HwMem);
        if (MapMem(Ext->HwMem, &Ext->AttrMem))
            break;
    }
    if (Ext->HwMem == CM_SEGMENT_LIMIT)
        return CMCFG_NO_WINDOW;

    for (i = 0; i < sizeof(Stages) / sizeof(Stages[0]); i++) {
        if (Stages[i](Ext) == CM_STAGE_FAILED)
            return CMCFG_STAGE_FAILED;
    }

    if (Ext->Debug)
        DbgPrint("Nuvalt: CMCFG PASSED -----------------------\n");
    return CMCFG_CONFIGURED;
}
