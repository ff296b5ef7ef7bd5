// The simulated Windows NT kernel and HAL that the driver's twelve platform
// operations reach on the host: the I/O manager's objects and name space,
// the registry, bus translation and mapping, the port space, the stall
// clock and the debug output, with a record of everything the driver did.
//
// One Kernel serves one simulated machine. The driver's calls reach the
// kernel that a KernelScope has made current; there is at most one.
#pragma once

#include "modem/ntplatform.h"
#include "sim/hw/clock.hpp"
#include "sim/hw/isa_bus.hpp"
#include "sim/kernel/registry.hpp"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace sim {

// Where the HAL puts a translated address.
enum class AddressSpace { Io, Memory, Refuse };

struct HalPolicy {
    AddressSpace io_space = AddressSpace::Io;         // for I/O bus addresses
    AddressSpace memory_space = AddressSpace::Memory; // for memory bus addresses
    bool refuse_all_segments = false;
    std::set<std::uint32_t> refuse_segments; // ISA segments whose translation fails
    std::uint64_t stall_overhead_ns = 0;     // extra virtual time per stall call
};

// Fault injection: a nonzero value is the status returned instead of acting.
struct KernelFaults {
    NTSTATUS create_device_status = 0;
    NTSTATUS create_link_status = 0;
    // Registry queries of these key paths return this status (after serving
    // the entries, when the key exists), as a query that ends with a warning
    // or error would.
    std::vector<std::pair<std::string, NTSTATUS>> query_status;
};

// One entry of the port log: a port input or output, or a run of
// consecutive stall calls folded together.
struct PortOp {
    enum class Kind : std::uint8_t { In, Out, Stall };
    Kind kind;
    std::uint16_t port = 0;
    std::uint8_t value = 0;
    std::uint64_t calls = 0; // stall entries
    std::uint64_t us = 0;    // stall entries
    bool operator==(const PortOp&) const = default;
};

// An I/O manager event, in the order it happened.
struct KernelEvent {
    enum class Kind { DeviceCreated, DeviceDeleted, LinkCreated, LinkDeleted, PortWrite };
    Kind kind;
    std::string name; // device or link name, when there is one
};

// What every byte of a new device extension holds: not zero, so a driver
// that reads a field before writing it gets a visible wrong value.
inline constexpr std::uint8_t kExtensionFill = 0xA5;

// An I/O port translated into memory space lands at this physical address
// plus the port number, above the ISA memory space.
inline constexpr std::uint64_t kIoAperture = 0x1'0000'0000ull;

class Kernel {
public:
    Kernel(IsaBus& bus, VirtualClock& clock);
    ~Kernel();
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    Registry& registry() { return registry_; }
    HalPolicy& hal() { return hal_; }
    KernelFaults& faults() { return faults_; }
    IsaBus& bus() { return bus_; }
    VirtualClock& clock() { return clock_; }

    // The driver object as the I/O manager hands it to the entry routine.
    DRIVER_OBJECT* driver_object() { return &driver_object_; }
    // The registry path argument of the entry routine (the driver's service key).
    UNICODE_STRING* registry_path() { return &registry_path_; }

    bool device_exists(const std::string& name) const;
    bool link_exists(const std::string& name) const;
    std::string link_target(const std::string& name) const;
    std::size_t device_count() const { return devices_.size(); }

    // Records of what the driver did.
    const std::vector<PortOp>& port_log() const {
        fold_stalls();
        return port_log_;
    }
    const std::string& trace() const { return trace_; }
    const std::vector<std::string>& registry_reads() const { return registry_reads_; }
    const std::vector<std::uint32_t>& map_mem_calls() const { return map_mem_calls_; }
    const std::vector<KernelEvent>& events() const { return events_; }
    std::uint64_t stall_calls() const {
        fold_stalls();
        return stall_calls_;
    }
    std::uint64_t stall_us() const {
        fold_stalls();
        return stall_us_;
    }
    std::uint64_t stall_ns() const {
        fold_stalls();
        return stall_ns_;
    }

    // The bus-side meaning of a port address the driver holds: the port
    // number, or for an address handed out for an I/O range mapped into
    // memory space, the physical address it stands for.
    std::uint64_t bus_address_of_port(ULONG_PTR port) const;

    // Takes what the driver wrote into mapped memory windows to the bus, then
    // brings the windows up to date with what the bus shows. Runs at every
    // port operation; the machine calls it when the entry routine returns.
    void sync_windows();

    // Does any mapped window contain this host address range?
    bool is_mapped(const void* p, std::size_t len) const;

    // ---- What the platform operations do (called by their C entry points) ----
    NTSTATUS create_device(PDRIVER_OBJECT driver, ULONG extension_size, PUNICODE_STRING name,
                           DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                           PDEVICE_OBJECT* out);
    void delete_device(PDEVICE_OBJECT device);
    NTSTATUS create_link(PUNICODE_STRING link, PUNICODE_STRING device);
    NTSTATUS delete_link(PUNICODE_STRING link);
    NTSTATUS query_registry(ULONG relative_to, PCWSTR path, PRTL_QUERY_REGISTRY_TABLE table);
    void debug_print(const char* text);
    BOOLEAN translate(INTERFACE_TYPE bus_type, ULONG bus_number, PHYSICAL_ADDRESS address,
                      PULONG space, PPHYSICAL_ADDRESS translated);
    PVOID map_io_space(PHYSICAL_ADDRESS address, SIZE_T length);
    void port_out(ULONG_PTR port, UCHAR value);
    UCHAR port_in(ULONG_PTR port);
    void stall(ULONG us);

private:
    struct Mapping;
    struct Device;
    std::uint16_t port_number(ULONG_PTR port) const;
    void fold_stalls() const;
    void refresh_windows();

    IsaBus& bus_;
    VirtualClock& clock_;
    Registry registry_;
    HalPolicy hal_;
    KernelFaults faults_;

    DRIVER_OBJECT driver_object_{};
    UNICODE_STRING registry_path_{};
    std::u16string registry_path_text_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<std::pair<std::string, std::string>> links_; // link name, device name

    std::vector<std::unique_ptr<Mapping>> mappings_;
    std::uint64_t shown_version_ = ~0ull;
    std::uintptr_t next_map_address_;

    // The port log and stall totals; a run of stall calls not yet folded in
    // is counted in run_calls_ and run_us_.
    mutable std::vector<PortOp> port_log_;
    std::string trace_;
    std::vector<std::string> registry_reads_;
    std::vector<std::uint32_t> map_mem_calls_;
    std::vector<KernelEvent> events_;
    mutable std::uint64_t stall_calls_ = 0;
    mutable std::uint64_t stall_us_ = 0;
    mutable std::uint64_t stall_ns_ = 0;
    mutable std::uint64_t run_calls_ = 0;
    mutable std::uint64_t run_us_ = 0;
};

// Makes a kernel the one that the driver's platform calls reach, for the
// scope's lifetime.
class KernelScope {
public:
    explicit KernelScope(Kernel& kernel);
    ~KernelScope();
    KernelScope(const KernelScope&) = delete;
    KernelScope& operator=(const KernelScope&) = delete;
};

// The current kernel; a platform call without one is a fault of the caller
// and ends the process with a message.
Kernel& current_kernel();

// UTF-16 from the driver, as UTF-8.
std::string to_utf8(const WCHAR* text, std::size_t units);
std::string to_utf8(const UNICODE_STRING& s);

} // namespace sim
