#include "sim/kernel/kernel.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

Kernel* g_current = nullptr;

constexpr std::size_t kPage = 0x1000;
// Where mapped ranges are placed when that space is free: within 32 bits, so
// the same in the 32-bit build, and clear of where programs, their heaps and
// shared libraries usually sit.
constexpr std::uintptr_t kMapAreaStart = 0x2000'0000;
constexpr std::uintptr_t kMapAreaEnd = 0x2100'0000;
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000Du);

[[noreturn]] void platform_fault(const char* what) {
    std::fprintf(stderr, "simulated kernel: %s\n", what);
    std::abort();
}

} // namespace

// A range that MmMapIoSpace handed out. Its host bytes sit at the end of
// their last page with inaccessible pages on both sides, so a driver access
// past either end of a 4 KB window faults at once instead of touching
// host memory.
struct Kernel::Mapping {
    std::uint64_t physical = 0;
    std::size_t length = 0;
    bool io_ports = false;     // an I/O port range translated into memory space
    std::uint16_t first_port = 0;
    std::uint8_t* host = nullptr;
    std::vector<std::uint8_t> shown; // what the host bytes showed after the last sync
    void* region = nullptr;
    std::size_t region_size = 0;
    bool fixed = false; // placed at the driver-visible address itself

    ~Mapping() {
        if (region) munmap(region, region_size);
    }
};

struct Kernel::Device {
    DEVICE_OBJECT object{};
    std::unique_ptr<std::uint8_t[]> extension;
    std::string name;
};

Kernel::Kernel(IsaBus& bus, VirtualClock& clock) : bus_(bus), clock_(clock), next_map_address_(kMapAreaStart) {
    driver_object_.Type = 4;
    driver_object_.Size = sizeof(DRIVER_OBJECT);
    static const char16_t kService[] = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Modem";
    registry_path_text_ = kService;
    registry_path_.Buffer = reinterpret_cast<PWSTR>(registry_path_text_.data());
    registry_path_.Length = static_cast<USHORT>(registry_path_text_.size() * 2);
    registry_path_.MaximumLength = static_cast<USHORT>(registry_path_.Length + 2);
}

Kernel::~Kernel() = default;

std::string to_utf8(const WCHAR* text, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string to_utf8(const UNICODE_STRING& s) {
    if (!s.Buffer) return {};
    return to_utf8(s.Buffer, s.Length / 2);
}

static std::string zero_terminated_utf8(PCWSTR text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    return to_utf8(text, n);
}

// ---- I/O manager ----

bool Kernel::device_exists(const std::string& name) const {
    return std::any_of(devices_.begin(), devices_.end(),
                       [&](const auto& d) { return !d->name.empty() && equal_ignoring_case(d->name, name); });
}

bool Kernel::link_exists(const std::string& name) const {
    return std::any_of(links_.begin(), links_.end(), [&](const auto& l) { return equal_ignoring_case(l.first, name); });
}

std::string Kernel::link_target(const std::string& name) const {
    for (const auto& l : links_)
        if (equal_ignoring_case(l.first, name)) return l.second;
    return {};
}

NTSTATUS Kernel::create_device(PDRIVER_OBJECT driver, ULONG extension_size, PUNICODE_STRING name,
                               DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                               PDEVICE_OBJECT* out) {
    (void)exclusive;
    if (faults_.create_device_status != 0) return faults_.create_device_status;
    std::string text = name ? to_utf8(*name) : std::string();
    if (!text.empty() && device_exists(text)) return STATUS_OBJECT_NAME_COLLISION;

    auto device = std::make_unique<Device>();
    device->name = text;
    // The extension is filled with a pattern, not zeroed: the driver must
    // write every field before it reads it.
    device->extension = std::make_unique<std::uint8_t[]>(extension_size ? extension_size : 1);
    std::memset(device->extension.get(), kExtensionFill, extension_size);
    DEVICE_OBJECT& obj = device->object;
    obj.Type = 3;
    obj.Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + extension_size);
    obj.ReferenceCount = 0;
    obj.DriverObject = driver;
    obj.NextDevice = driver->DeviceObject;
    obj.DeviceExtension = device->extension.get();
    obj.DeviceType = type;
    obj.Characteristics = characteristics;
    driver->DeviceObject = &obj;
    *out = &obj;
    events_.push_back({KernelEvent::Kind::DeviceCreated, text});
    devices_.push_back(std::move(device));
    return STATUS_SUCCESS;
}

void Kernel::delete_device(PDEVICE_OBJECT device) {
    auto it = std::find_if(devices_.begin(), devices_.end(), [&](const auto& d) { return &d->object == device; });
    if (it == devices_.end()) platform_fault("IoDeleteDevice called with an object that is not a device");
    PDRIVER_OBJECT driver = device->DriverObject;
    for (PDEVICE_OBJECT* link = &driver->DeviceObject; *link; link = &(*link)->NextDevice) {
        if (*link == device) {
            *link = device->NextDevice;
            break;
        }
    }
    events_.push_back({KernelEvent::Kind::DeviceDeleted, (*it)->name});
    devices_.erase(it);
}

NTSTATUS Kernel::create_link(PUNICODE_STRING link, PUNICODE_STRING device) {
    if (faults_.create_link_status != 0) return faults_.create_link_status;
    std::string name = to_utf8(*link);
    if (link_exists(name)) return STATUS_OBJECT_NAME_COLLISION;
    links_.emplace_back(name, to_utf8(*device));
    events_.push_back({KernelEvent::Kind::LinkCreated, name});
    return STATUS_SUCCESS;
}

NTSTATUS Kernel::delete_link(PUNICODE_STRING link) {
    std::string name = to_utf8(*link);
    auto it = std::find_if(links_.begin(), links_.end(), [&](const auto& l) { return equal_ignoring_case(l.first, name); });
    if (it == links_.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    links_.erase(it);
    events_.push_back({KernelEvent::Kind::LinkDeleted, name});
    return STATUS_SUCCESS;
}

// ---- Registry ----

// Direct entries receive a value only when it is a 32-bit number (REG_DWORD):
// a direct entry's place holds 4 bytes, and a string or other value would
// not fit it. Such a value is treated as though the key lacked it: the entry
// receives its default, and the query still succeeds.
NTSTATUS Kernel::query_registry(ULONG relative_to, PCWSTR path, PRTL_QUERY_REGISTRY_TABLE table) {
    std::string key_path = path ? zero_terminated_utf8(path) : std::string();
    registry_reads_.push_back(key_path);
    if (relative_to != RTL_REGISTRY_ABSOLUTE || !table) return kStatusInvalidParameter;
    NTSTATUS status = STATUS_SUCCESS;
    for (const auto& [faulty, injected] : faults_.query_status)
        if (equal_ignoring_case(faulty, key_path)) status = injected;
    const RegistryKey* key = registry_.find(key_path);
    if (!key) return status ? status : STATUS_OBJECT_NAME_NOT_FOUND;

    for (PRTL_QUERY_REGISTRY_TABLE e = table; e->QueryRoutine || e->Name; ++e) {
        if (e->QueryRoutine || !(e->Flags & RTL_QUERY_REGISTRY_DIRECT) || !e->Name || !e->EntryContext)
            return kStatusInvalidParameter; // only direct entries are served
        const RegistryValue* v = key->find(zero_terminated_utf8(e->Name));
        if (v && v->type == REG_DWORD) {
            std::memcpy(e->EntryContext, &v->dword, sizeof(ULONG));
        } else if (e->DefaultType == REG_DWORD && e->DefaultLength == sizeof(ULONG) && e->DefaultData) {
            std::memcpy(e->EntryContext, e->DefaultData, sizeof(ULONG));
        }
    }
    return status;
}

void Kernel::debug_print(const char* text) { trace_ += text; }

// ---- Bus translation and mapping ----

BOOLEAN Kernel::translate(INTERFACE_TYPE bus_type, ULONG bus_number, PHYSICAL_ADDRESS address, PULONG space,
                          PPHYSICAL_ADDRESS translated) {
    const bool io = *space != 0;
    const std::uint64_t bus_address = static_cast<std::uint64_t>(address.QuadPart);
    if (!io) map_mem_calls_.push_back(static_cast<std::uint32_t>(bus_address >> 4));
    if (bus_type != Isa || bus_number != 0) return FALSE;

    if (io) {
        switch (hal_.io_space) {
        case AddressSpace::Refuse: return FALSE;
        case AddressSpace::Io:
            *space = 1;
            translated->QuadPart = static_cast<LONGLONG>(bus_address);
            return TRUE;
        case AddressSpace::Memory:
            *space = 0;
            translated->QuadPart = static_cast<LONGLONG>(kIoAperture + bus_address);
            return TRUE;
        }
    }
    const std::uint32_t segment = static_cast<std::uint32_t>(bus_address >> 4);
    if (hal_.refuse_all_segments || hal_.refuse_segments.count(segment)) return FALSE;
    switch (hal_.memory_space) {
    case AddressSpace::Refuse: return FALSE;
    case AddressSpace::Memory:
        *space = 0;
        translated->QuadPart = static_cast<LONGLONG>(bus_address);
        return TRUE;
    case AddressSpace::Io: {
        *space = 1;
        translated->QuadPart = static_cast<LONGLONG>(bus_address);
        // The driver will use the low 32 bits as a memory address. Nothing
        // answers there: give it a page that reads 0xFF and absorbs writes,
        // at that very address, so that its reads and writes land somewhere
        // harmless rather than in host memory.
        const std::uintptr_t at = static_cast<std::uint32_t>(bus_address) & ~(kPage - 1);
        bool have = std::any_of(mappings_.begin(), mappings_.end(),
                                [&](const auto& m) { return m->fixed && reinterpret_cast<std::uintptr_t>(m->host) == at; });
        if (!have) {
            void* p = mmap(reinterpret_cast<void*>(at), 2 * kPage, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
            if (p == MAP_FAILED || p != reinterpret_cast<void*>(at))
                platform_fault("cannot place the unbacked page at the translated address");
            std::memset(p, 0xFF, 2 * kPage);
            auto m = std::make_unique<Mapping>();
            m->fixed = true;
            m->host = static_cast<std::uint8_t*>(p);
            m->region = p;
            m->region_size = 2 * kPage;
            mappings_.push_back(std::move(m));
        }
        return TRUE;
    }
    }
    return FALSE;
}

PVOID Kernel::map_io_space(PHYSICAL_ADDRESS address, SIZE_T length) {
    if (length == 0) return nullptr;
    const std::uint64_t physical = static_cast<std::uint64_t>(address.QuadPart);
    const std::size_t pages = (length + kPage - 1) / kPage;
    const std::size_t region_size = (pages + 2) * kPage;
    // Mappings go one after another from a fixed address when that space is
    // free, so the addresses the driver holds (and may trace) are the same
    // on every run and in the 32-bit build; anywhere else otherwise.
    void* region = MAP_FAILED;
    if (next_map_address_ + region_size <= kMapAreaEnd)
        region = mmap(reinterpret_cast<void*>(next_map_address_), region_size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (region != MAP_FAILED && region != reinterpret_cast<void*>(next_map_address_)) {
        munmap(region, region_size); // an old kernel took the address as a hint only
        region = MAP_FAILED;
    }
    if (region == MAP_FAILED)
        region = mmap(nullptr, region_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    else
        next_map_address_ += region_size;
    if (region == MAP_FAILED) return nullptr;
    auto* base = static_cast<std::uint8_t*>(region);
    mprotect(base, kPage, PROT_NONE);
    mprotect(base + (pages + 1) * kPage, kPage, PROT_NONE);

    auto m = std::make_unique<Mapping>();
    m->physical = physical;
    m->length = length;
    m->region = region;
    m->region_size = region_size;
    m->host = base + (pages + 1) * kPage - length;
    if (physical >= kIoAperture && physical < kIoAperture + 0x10000) {
        m->io_ports = true;
        m->first_port = static_cast<std::uint16_t>(physical - kIoAperture);
        std::memset(m->host, 0xFF, length);
    } else {
        m->shown.resize(length);
        for (std::size_t i = 0; i < length; ++i)
            m->host[i] = m->shown[i] = bus_.mem_read(static_cast<std::uint32_t>(physical + i));
    }
    PVOID result = m->host;
    mappings_.push_back(std::move(m));
    shown_version_ = bus_.memory_version();
    return result;
}

bool Kernel::is_mapped(const void* p, std::size_t len) const {
    auto a = reinterpret_cast<std::uintptr_t>(p);
    return std::any_of(mappings_.begin(), mappings_.end(), [&](const auto& m) {
        auto h = reinterpret_cast<std::uintptr_t>(m->host);
        std::size_t n = m->fixed ? 2 * kPage : m->length;
        return a >= h && a + len <= h + n;
    });
}

std::uint64_t Kernel::bus_address_of_port(ULONG_PTR port) const {
    for (const auto& m : mappings_) {
        auto h = reinterpret_cast<ULONG_PTR>(m->host);
        if (m->io_ports && port >= h && port < h + m->length) return m->physical + (port - h);
    }
    return port;
}

void Kernel::refresh_windows() {
    const std::uint64_t version = bus_.memory_version();
    if (version == shown_version_) return;
    for (auto& m : mappings_) {
        if (m->io_ports || m->fixed) continue;
        for (std::size_t i = 0; i < m->length; ++i)
            m->host[i] = m->shown[i] = bus_.mem_read(static_cast<std::uint32_t>(m->physical + i));
    }
    shown_version_ = version;
}

void Kernel::sync_windows() {
    for (auto& m : mappings_) {
        if (m->io_ports || m->fixed) continue;
        if (std::memcmp(m->host, m->shown.data(), m->length) == 0) continue;
        for (std::size_t i = 0; i < m->length; ++i) {
            if (m->host[i] != m->shown[i]) {
                bus_.mem_write(static_cast<std::uint32_t>(m->physical + i), m->host[i]);
                m->shown[i] = m->host[i];
            }
        }
        shown_version_ = ~0ull; // a write may change what reads show
    }
    refresh_windows();
}

// ---- Ports and stall ----

// The port a driver address selects: within an I/O range mapped into memory
// space, the port it stands for; otherwise the low 16 bits, as the x86 port
// instructions take them.
std::uint16_t Kernel::port_number(ULONG_PTR port) const {
    for (const auto& m : mappings_) {
        auto h = reinterpret_cast<ULONG_PTR>(m->host);
        if (m->io_ports && port >= h && port < h + m->length)
            return static_cast<std::uint16_t>(m->first_port + (port - h));
    }
    return static_cast<std::uint16_t>(port & 0xFFFF);
}

void Kernel::port_out(ULONG_PTR port, UCHAR value) {
    fold_stalls();
    sync_windows();
    const std::uint16_t p = port_number(port);
    port_log_.push_back({PortOp::Kind::Out, p, value});
    events_.push_back({KernelEvent::Kind::PortWrite, {}});
    bus_.out(p, value);
    refresh_windows();
}

UCHAR Kernel::port_in(ULONG_PTR port) {
    fold_stalls();
    sync_windows();
    const std::uint16_t p = port_number(port);
    const std::uint8_t value = bus_.in(p);
    port_log_.push_back({PortOp::Kind::In, p, value});
    return value;
}

// The stall is the hottest platform call (over two million in one load), so
// it only advances the clock and counts; the run of consecutive calls goes
// into the port log and the totals when something next looks at them.
void Kernel::stall(ULONG us) {
    clock_.advance_ns(static_cast<std::uint64_t>(us) * 1000 + hal_.stall_overhead_ns);
    ++run_calls_;
    run_us_ += us;
}

void Kernel::fold_stalls() const {
    if (run_calls_ == 0) return;
    stall_calls_ += run_calls_;
    stall_us_ += run_us_;
    stall_ns_ += run_us_ * 1000 + run_calls_ * hal_.stall_overhead_ns;
    if (!port_log_.empty() && port_log_.back().kind == PortOp::Kind::Stall) {
        port_log_.back().calls += run_calls_;
        port_log_.back().us += run_us_;
    } else {
        port_log_.push_back({PortOp::Kind::Stall, 0, 0, run_calls_, run_us_});
    }
    run_calls_ = 0;
    run_us_ = 0;
}

// ---- The current kernel ----

KernelScope::KernelScope(Kernel& kernel) {
    if (g_current) platform_fault("a simulated kernel is already current");
    g_current = &kernel;
}

KernelScope::~KernelScope() { g_current = nullptr; }

Kernel& current_kernel() {
    if (!g_current) platform_fault("a platform operation was called with no simulated machine running");
    return *g_current;
}

} // namespace sim

// The stall is the driver's hottest platform call (two million of them for
// one socket power-up), so it is defined here, where the current kernel
// and the stall itself can be inlined into it.
extern "C" VOID NTAPI KeStallExecutionProcessor(ULONG MicroSeconds) { sim::current_kernel().stall(MicroSeconds); }
