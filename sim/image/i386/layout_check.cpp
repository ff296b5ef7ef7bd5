// The platform structures as the x86 build of the driver lays them out,
// checked at compile time against the platform's published layouts for
// every field the driver or the platform reaches, and printed one per line
// ("layout STRUCT.FIELD OFFSET SIZE", "size STRUCT SIZE", "args OPERATION
// BYTES") so that the test suite compares them with its own table and with
// the export lists the image links against.
#include "modem/cmext.h"
#include "modem/ntplatform.h"

#include <cstddef>
#include <cstdio>

#if !defined(__i386__)
#error "the layout check is built for 32-bit x86 only"
#endif

namespace {

#define FIELD(type, field) #type "." #field, offsetof(type, field), sizeof(static_cast<type*>(nullptr)->field)

struct Field {
    const char* name;
    std::size_t offset;
    std::size_t size;
};

constexpr Field kFields[] = {
    {FIELD(DRIVER_OBJECT, Type)},
    {FIELD(DRIVER_OBJECT, Size)},
    {FIELD(DRIVER_OBJECT, DeviceObject)},
    {FIELD(DRIVER_OBJECT, DriverStart)},
    {FIELD(DRIVER_OBJECT, DriverSize)},
    {FIELD(DRIVER_OBJECT, DriverName)},
    {FIELD(DRIVER_OBJECT, DriverInit)},
    {FIELD(DRIVER_OBJECT, DriverUnload)},
    {FIELD(DRIVER_OBJECT, MajorFunction)},
    {FIELD(DEVICE_OBJECT, Type)},
    {FIELD(DEVICE_OBJECT, Size)},
    {FIELD(DEVICE_OBJECT, DriverObject)},
    {FIELD(DEVICE_OBJECT, NextDevice)},
    {FIELD(DEVICE_OBJECT, Characteristics)},
    {FIELD(DEVICE_OBJECT, DeviceExtension)},
    {FIELD(DEVICE_OBJECT, DeviceType)},
    {FIELD(UNICODE_STRING, Length)},
    {FIELD(UNICODE_STRING, MaximumLength)},
    {FIELD(UNICODE_STRING, Buffer)},
    {FIELD(RTL_QUERY_REGISTRY_TABLE, QueryRoutine)},
    {FIELD(RTL_QUERY_REGISTRY_TABLE, Flags)},
    {FIELD(RTL_QUERY_REGISTRY_TABLE, Name)},
    {FIELD(RTL_QUERY_REGISTRY_TABLE, EntryContext)},
    {FIELD(RTL_QUERY_REGISTRY_TABLE, DefaultType)},
    {FIELD(RTL_QUERY_REGISTRY_TABLE, DefaultData)},
    {FIELD(RTL_QUERY_REGISTRY_TABLE, DefaultLength)},
    {FIELD(LARGE_INTEGER, u.LowPart)},
    {FIELD(LARGE_INTEGER, u.HighPart)},
    {FIELD(LARGE_INTEGER, QuadPart)},
    {FIELD(CmExtension, Socket)},
    {FIELD(CmExtension, HwMem)},
    {FIELD(CmExtension, PcicBusPort)},
    {FIELD(CmExtension, ComPort)},
    {FIELD(CmExtension, ComIrq)},
    {FIELD(CmExtension, AttrMem)},
    {FIELD(CmExtension, PcicPort)},
    {FIELD(CmExtension, Debug)},
    {FIELD(CmExtension, ConfigIndex)},
    {FIELD(CmExtension, CorOffset)},
    {FIELD(CmExtension, Signature)},
};

#undef FIELD

struct Size {
    const char* name;
    std::size_t size;
};

constexpr Size kSizes[] = {
    {"DRIVER_OBJECT", sizeof(DRIVER_OBJECT)},
    {"UNICODE_STRING", sizeof(UNICODE_STRING)},
    {"RTL_QUERY_REGISTRY_TABLE", sizeof(RTL_QUERY_REGISTRY_TABLE)},
    {"LARGE_INTEGER", sizeof(LARGE_INTEGER)},
    {"PHYSICAL_ADDRESS", sizeof(PHYSICAL_ADDRESS)},
    {"CmExtension", sizeof(CmExtension)},
    {"PVOID", sizeof(PVOID)},
    {"ULONG", sizeof(ULONG)},
    {"ULONG_PTR", sizeof(ULONG_PTR)},
    {"WCHAR", sizeof(WCHAR)},
    {"BOOLEAN", sizeof(BOOLEAN)},
};

// What a stdcall routine pops: each argument takes whole 4-byte stack slots.
template <typename R, typename... A>
constexpr unsigned stack_bytes(R(NTAPI*)(A...)) {
    return (0u + ... + static_cast<unsigned>((sizeof(A) + 3) / 4 * 4));
}

struct Operation {
    const char* name;
    unsigned bytes;
};

#define OP(name) {#name, stack_bytes(&name)}
constexpr Operation kOperations[] = {
    OP(RtlInitUnicodeString), OP(IoCreateDevice),   OP(IoCreateSymbolicLink),
    OP(IoDeleteDevice),       OP(IoDeleteSymbolicLink), OP(RtlQueryRegistryValues),
    OP(HalTranslateBusAddress), OP(MmMapIoSpace),   OP(WRITE_PORT_UCHAR),
    OP(READ_PORT_UCHAR),      OP(KeStallExecutionProcessor),
};
#undef OP

// The published x86 layouts the driver relies on.
static_assert(offsetof(DRIVER_OBJECT, DeviceObject) == 0x04);
static_assert(offsetof(DRIVER_OBJECT, DriverStart) == 0x0C);
static_assert(offsetof(DRIVER_OBJECT, DriverSize) == 0x10);
static_assert(offsetof(DRIVER_OBJECT, DriverName) == 0x1C);
static_assert(offsetof(DRIVER_OBJECT, DriverInit) == 0x2C);
static_assert(offsetof(DRIVER_OBJECT, DriverUnload) == 0x34);
static_assert(offsetof(DRIVER_OBJECT, MajorFunction) == 0x38);
static_assert(sizeof(DRIVER_OBJECT) == 0xA8);
static_assert(offsetof(DEVICE_OBJECT, DriverObject) == 0x08);
static_assert(offsetof(DEVICE_OBJECT, NextDevice) == 0x0C);
static_assert(offsetof(DEVICE_OBJECT, DeviceExtension) == 0x28);
static_assert(offsetof(DEVICE_OBJECT, DeviceType) == 0x2C);
static_assert(sizeof(UNICODE_STRING) == 8 && offsetof(UNICODE_STRING, MaximumLength) == 2 &&
              offsetof(UNICODE_STRING, Buffer) == 4);
static_assert(sizeof(RTL_QUERY_REGISTRY_TABLE) == 28);
static_assert(offsetof(RTL_QUERY_REGISTRY_TABLE, QueryRoutine) == 0 && offsetof(RTL_QUERY_REGISTRY_TABLE, Flags) == 4 &&
              offsetof(RTL_QUERY_REGISTRY_TABLE, Name) == 8 && offsetof(RTL_QUERY_REGISTRY_TABLE, EntryContext) == 12 &&
              offsetof(RTL_QUERY_REGISTRY_TABLE, DefaultType) == 16 &&
              offsetof(RTL_QUERY_REGISTRY_TABLE, DefaultData) == 20 &&
              offsetof(RTL_QUERY_REGISTRY_TABLE, DefaultLength) == 24);
static_assert(sizeof(LARGE_INTEGER) == 8 && offsetof(LARGE_INTEGER, u.HighPart) == 4);
static_assert(sizeof(PHYSICAL_ADDRESS) == 8);
static_assert(stack_bytes(&IoCreateDevice) == 28 && stack_bytes(&HalTranslateBusAddress) == 24 &&
              stack_bytes(&MmMapIoSpace) == 16 && stack_bytes(&RtlQueryRegistryValues) == 20);

} // namespace

int main() {
    for (const Field& f : kFields) std::printf("layout %s %zu %zu\n", f.name, f.offset, f.size);
    for (const Size& s : kSizes) std::printf("size %s %zu\n", s.name, s.size);
    for (const Operation& o : kOperations) std::printf("args %s %u\n", o.name, o.bytes);
    return 0;
}
