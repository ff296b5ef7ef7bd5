/*
 * ntplatform.h - the Windows NT 3.51 kernel and HAL interface as this driver
 * uses it: the types, constants and structures it touches and the twelve
 * operations it calls.
 *
 * Written for this driver from the published interface; it is not a copy of
 * any platform header. It includes nothing, so the driver builds both as a
 * freestanding 32-bit kernel image and for the host, where the simulated
 * machine supplies the operations.
 *
 * Structure layouts follow the x86 platform for every field the driver or
 * the platform reaches; fields the driver never names are kept as opaque
 * filler so the offsets stay right.
 */
#ifndef NTPLATFORM_H
#define NTPLATFORM_H

#ifdef __cplusplus
extern "C" {
#endif

/* Calling conventions of the x86 target: the kernel and HAL export their
 * operations as stdcall, DbgPrint is cdecl. Other hosts have one convention. */
#if defined(__i386__)
#define NTAPI __attribute__((stdcall))
#define NTCDECL __attribute__((cdecl))
#else
#define NTAPI
#define NTCDECL
#endif

/* ---- Basic types (sizes as on the x86 target) ---- */
typedef void VOID;
typedef void *PVOID;
typedef unsigned char UCHAR;
typedef UCHAR *PUCHAR;
typedef unsigned char BOOLEAN;
typedef signed short CSHORT;
typedef unsigned short USHORT;
typedef unsigned int ULONG;
typedef ULONG *PULONG;
typedef signed int LONG;
typedef long long LONGLONG;
typedef __UINTPTR_TYPE__ ULONG_PTR; /* pointer-sized unsigned */
typedef ULONG_PTR SIZE_T;
typedef const char *PCSTR;
typedef LONG NTSTATUS;

/* UTF-16 code unit. Sixteen bits on every build (wchar_t is 32 bits on Linux),
 * so constants are written as u"..." literals. */
typedef unsigned short WCHAR;
typedef WCHAR *PWSTR;
typedef const WCHAR *PCWSTR;

#define TRUE 1
#define FALSE 0
#ifndef NULL
#define NULL ((void *)0)
#endif

#define NT_SUCCESS(status) ((NTSTATUS)(status) >= 0)
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_OBJECT_TYPE_MISMATCH ((NTSTATUS)0xC0000024L)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035L)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009AL)

/* 64-bit physical or bus address. */
typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

/* Counted UTF-16 string; lengths are in bytes, without the terminator. */
typedef struct _UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;

/* ---- I/O manager objects ---- */
typedef ULONG DEVICE_TYPE;
#define FILE_DEVICE_UNKNOWN 0x00000022
#define IRP_MJ_MAXIMUM_FUNCTION 0x1b

struct _DRIVER_OBJECT;
struct _DEVICE_OBJECT;

typedef VOID(NTAPI *PDRIVER_UNLOAD)(struct _DRIVER_OBJECT *DriverObject);
typedef NTSTATUS(NTAPI *PDRIVER_DISPATCH)(struct _DEVICE_OBJECT *DeviceObject, PVOID Irp);

typedef struct _DEVICE_OBJECT {
    CSHORT Type;
    USHORT Size;
    LONG ReferenceCount;
    struct _DRIVER_OBJECT *DriverObject;
    struct _DEVICE_OBJECT *NextDevice;
    struct _DEVICE_OBJECT *AttachedDevice;
    PVOID CurrentIrp;
    PVOID Timer;
    ULONG Flags;
    ULONG Characteristics;
    PVOID Vpb;
    PVOID DeviceExtension; /* the driver's per-device record */
    DEVICE_TYPE DeviceType;
} DEVICE_OBJECT, *PDEVICE_OBJECT;

typedef struct _DRIVER_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject; /* the driver's devices, newest first */
    ULONG Flags;
    PVOID DriverStart;
    ULONG DriverSize;
    PVOID DriverSection;
    PVOID DriverExtension;
    UNICODE_STRING DriverName;
    PUNICODE_STRING HardwareDatabase;
    PVOID FastIoDispatch;
    PVOID DriverInit;
    PVOID DriverStartIo;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
} DRIVER_OBJECT, *PDRIVER_OBJECT;

/* ---- Registry query ---- */
#define RTL_REGISTRY_ABSOLUTE 0
#define RTL_QUERY_REGISTRY_DIRECT 0x00000020
#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4

typedef NTSTATUS(NTAPI *PRTL_QUERY_REGISTRY_ROUTINE)(PWSTR ValueName, ULONG ValueType,
                                                     PVOID ValueData, ULONG ValueLength,
                                                     PVOID Context, PVOID EntryContext);

typedef struct _RTL_QUERY_REGISTRY_TABLE {
    PRTL_QUERY_REGISTRY_ROUTINE QueryRoutine;
    ULONG Flags;
    PWSTR Name;
    PVOID EntryContext;
    ULONG DefaultType;
    PVOID DefaultData;
    ULONG DefaultLength;
} RTL_QUERY_REGISTRY_TABLE, *PRTL_QUERY_REGISTRY_TABLE;

/* ---- Bus translation and mapping ---- */
typedef enum _INTERFACE_TYPE { Internal = 0, Isa = 1 } INTERFACE_TYPE;
typedef enum _MEMORY_CACHING_TYPE { MmNonCached = 0, MmCached = 1 } MEMORY_CACHING_TYPE;

/* ---- The twelve operations ---- */
VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                              PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                              ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                              PDEVICE_OBJECT *DeviceObject);
NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName);
VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject);
NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName);
NTSTATUS NTAPI RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path,
                                      PRTL_QUERY_REGISTRY_TABLE QueryTable, PVOID Context,
                                      PVOID Environment);
ULONG NTCDECL DbgPrint(PCSTR Format, ...);
BOOLEAN NTAPI HalTranslateBusAddress(INTERFACE_TYPE InterfaceType, ULONG BusNumber,
                                     PHYSICAL_ADDRESS BusAddress, PULONG AddressSpace,
                                     PPHYSICAL_ADDRESS TranslatedAddress);
PVOID NTAPI MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes,
                         MEMORY_CACHING_TYPE CacheType);
VOID NTAPI WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value);
UCHAR NTAPI READ_PORT_UCHAR(PUCHAR Port);
VOID NTAPI KeStallExecutionProcessor(ULONG MicroSeconds);

#ifdef __cplusplus
}
#endif

#endif /* NTPLATFORM_H */
