// The twelve kernel and HAL operations the driver calls, with the names and
// calling conventions the driver's platform header declares. Each hands its
// work to the current simulated kernel.
#include "modem/ntplatform.h"
#include "sim/kernel/kernel.hpp"

#include <cstdarg>
#include <cstdio>
#include <vector>

using sim::current_kernel;

extern "C" {

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    if (!SourceString) {
        DestinationString->Length = 0;
        DestinationString->MaximumLength = 0;
        DestinationString->Buffer = nullptr;
        return;
    }
    USHORT units = 0;
    while (SourceString[units]) ++units;
    DestinationString->Length = static_cast<USHORT>(units * sizeof(WCHAR));
    DestinationString->MaximumLength = static_cast<USHORT>((units + 1) * sizeof(WCHAR));
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING DeviceName,
                              DEVICE_TYPE DeviceType, ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                              PDEVICE_OBJECT* DeviceObject) {
    return current_kernel().create_device(DriverObject, DeviceExtensionSize, DeviceName, DeviceType,
                                          DeviceCharacteristics, Exclusive, DeviceObject);
}

NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
    return current_kernel().create_link(SymbolicLinkName, DeviceName);
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject) { current_kernel().delete_device(DeviceObject); }

NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
    return current_kernel().delete_link(SymbolicLinkName);
}

NTSTATUS NTAPI RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                      PVOID Context, PVOID Environment) {
    (void)Context;
    (void)Environment;
    return current_kernel().query_registry(RelativeTo, Path, QueryTable);
}

ULONG NTCDECL DbgPrint(PCSTR Format, ...) {
    va_list args;
    va_start(args, Format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, Format, args);
    va_end(args);
    if (n > 0) {
        std::vector<char> text(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), Format, again);
        current_kernel().debug_print(text.data());
    }
    va_end(again);
    return 0;
}

BOOLEAN NTAPI HalTranslateBusAddress(INTERFACE_TYPE InterfaceType, ULONG BusNumber, PHYSICAL_ADDRESS BusAddress,
                                     PULONG AddressSpace, PPHYSICAL_ADDRESS TranslatedAddress) {
    return current_kernel().translate(InterfaceType, BusNumber, BusAddress, AddressSpace, TranslatedAddress);
}

PVOID NTAPI MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes, MEMORY_CACHING_TYPE CacheType) {
    (void)CacheType;
    return current_kernel().map_io_space(PhysicalAddress, NumberOfBytes);
}

VOID NTAPI WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value) {
    current_kernel().port_out(reinterpret_cast<ULONG_PTR>(Port), Value);
}

UCHAR NTAPI READ_PORT_UCHAR(PUCHAR Port) { return current_kernel().port_in(reinterpret_cast<ULONG_PTR>(Port)); }

// KeStallExecutionProcessor is defined in kernel.cpp, beside the stall it
// performs, so that its hot path compiles to one call.

} // extern "C"
