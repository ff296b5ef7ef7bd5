#include "sim/machine/machine.hpp"

#include "modem/krnldrvr.h"
#include "modem/modem.h"

#include <cstring>

namespace sim {

namespace {


// 16550 registers, as offsets from the port's base.
enum UartReg : std::uint16_t { kData = 0, kIer = 1, kIir = 2, kLcr = 3, kMcr = 4, kLsr = 5, kScratch = 7 };
constexpr std::uint8_t kLsrDataReady = 0x01;
constexpr std::uint8_t kLsrThrEmpty = 0x20;
constexpr std::uint8_t kIerThrEmpty = 0x02;
constexpr std::uint8_t kMcrDtrRtsOut2 = 0x0B;
constexpr std::size_t kMaxReply = 256;

} // namespace

DriverBinding host_driver() {
    return {DriverEntry, [](ULONG debug) { ModemDebugDefault = debug; }};
}

Machine::Machine(const MachineSpec& description, DriverBinding driver) : spec_(description), driver_(driver), kernel_(bus_, clock_) {
    for (const RegistryKeySpec& key : spec_.registry) {
        const std::string path = serial_parameters_key(key.name);
        kernel_.registry().key(path);
        for (const RegistryValueSpec& v : key.values) {
            if (v.is_string) kernel_.registry().set_string(path, v.name, v.text);
            else kernel_.registry().set_dword(path, v.name, v.number);
        }
    }
    kernel_.hal() = spec_.hal;
    kernel_.faults() = spec_.faults;

    for (const ControllerSpec& c : spec_.controllers) {
        controllers_.push_back(std::make_unique<Controller>(c.port, c.id, clock_));
        Controller* ctl = controllers_.back().get();
        bus_.attach_ports(ctl);
        bus_.attach_memory(ctl);
        bus_.attach_irq(ctl);
    }
    for (const SocketSpec& s : spec_.sockets) {
        Controller* ctl = nullptr;
        for (auto& c : controllers_)
            if (c->index_port() == s.controller) ctl = c.get();
        if (!ctl) continue; // the description reader refuses such sockets
        SocketSetup setup;
        setup.bank = s.bank;
        setup.detect = s.detect;
        setup.status_or = s.status_or;
        if (s.ready_ms) setup.ready_ns = *s.ready_ms * 1'000'000ull;
        else setup.ready_ns.reset();
        if (s.has_card()) {
            owned_cards_.push_back(std::make_unique<ModemCard>(s.cis, s.odd_fill));
            setup.card = owned_cards_.back().get();
            cards_.push_back({s.controller, s.bank, owned_cards_.back().get()});
        }
        ctl->add_socket(setup);
    }
}

Machine::~Machine() = default;

NTSTATUS Machine::load() {
    KernelScope scope(kernel_);
    if (driver_.set_debug) driver_.set_debug(spec_.debug);
    const NTSTATUS status = driver_.entry(kernel_.driver_object(), kernel_.registry_path());
    kernel_.sync_windows(); // the driver's last writes into the window reach the card
    status_ = status;

    const PDEVICE_OBJECT device = kernel_.driver_object()->DeviceObject;
    if (device) {
        CmExtension record;
        std::memcpy(&record, device->DeviceExtension, sizeof record);
        record_ = record;
    }
    device_existed_ = kernel_.device_exists(kDriverDeviceName);
    link_existed_ = kernel_.link_exists(kDriverLinkName);
    unload_installed_ = kernel_.driver_object()->DriverUnload != nullptr;
    return status;
}

UnloadResult Machine::unload() {
    KernelScope scope(kernel_);
    const std::size_t first = kernel_.events().size();
    if (PDRIVER_UNLOAD routine = kernel_.driver_object()->DriverUnload) routine(kernel_.driver_object());

    UnloadResult result;
    std::optional<std::size_t> device_at, link_at;
    const auto& events = kernel_.events();
    for (std::size_t i = first; i < events.size(); ++i) {
        switch (events[i].kind) {
        case KernelEvent::Kind::DeviceDeleted: if (!device_at) device_at = i; break;
        case KernelEvent::Kind::LinkDeleted: if (!link_at) link_at = i; break;
        case KernelEvent::Kind::PortWrite: ++result.port_writes; break;
        default: break;
        }
    }
    result.device_deleted_first = device_at && (!link_at || *device_at < *link_at);
    result.link_removed = link_at.has_value() && !kernel_.link_exists(kDriverLinkName);
    unload_ = result;
    return result;
}

// Looks for the UART as a serial driver does: the scratch register must keep
// what is written to it; then, with the interrupt output enabled, the
// transmitter-empty interrupt must raise an IRQ that was quiet before. The
// probe's own port operations do not go into the driver's port log.
SerialProbe Machine::probe() {
    SerialProbe p;
    p.port = static_cast<std::uint16_t>(record_ ? record_->ComPort : CM_DEFAULT_COM_PORT);
    const std::uint16_t base = p.port;
    auto in = [&](std::uint16_t reg) { return bus_.in(static_cast<std::uint16_t>(base + reg)); };
    auto out = [&](std::uint16_t reg, std::uint8_t v) { bus_.out(static_cast<std::uint16_t>(base + reg), v); };

    for (std::uint8_t pattern : {std::uint8_t{0x55}, std::uint8_t{0xAA}}) {
        out(kScratch, pattern);
        if (in(kScratch) != pattern) {
            probe_ = p;
            return p;
        }
    }
    p.found = true;

    auto asserted = [&] {
        unsigned mask = 0;
        for (int level = 1; level < 16; ++level)
            if (bus_.irq_asserted(level)) mask |= 1u << level;
        return mask;
    };
    out(kIer, 0x00);
    out(kMcr, kMcrDtrRtsOut2);
    const unsigned before = asserted();
    out(kIer, kIerThrEmpty);
    const unsigned raised = asserted() & ~before;
    for (int level = 1; level < 16; ++level)
        if (raised & (1u << level)) {
            p.irq = level;
            break;
        }
    (void)in(kIir); // acknowledges the transmitter-empty interrupt
    out(kIer, 0x00);

    // 9600 baud, 8 data bits, no parity, one stop bit; FIFOs on and cleared.
    out(kLcr, 0x80);
    out(kData, 12);
    out(kIer, 0);
    out(kLcr, 0x03);
    out(kIir, 0x07);
    for (std::size_t i = 0; i < kMaxReply && (in(kLsr) & kLsrDataReady); ++i) (void)in(kData);
    for (char c : std::string("AT\r")) {
        for (int spin = 0; spin < 1000 && !(in(kLsr) & kLsrThrEmpty); ++spin) {
        }
        out(kData, static_cast<std::uint8_t>(c));
    }
    while (p.reply_to_at.size() < kMaxReply && (in(kLsr) & kLsrDataReady))
        p.reply_to_at += static_cast<char>(in(kData));
    probe_ = p;
    return p;
}

std::string status_meaning(NTSTATUS status, bool device_was_created) {
    switch (static_cast<std::uint32_t>(status)) {
    case CMCFG_CONFIGURED: return "configured";
    case CMCFG_STAGE_FAILED: return "a card stage failed";
    case CMCFG_NO_PORT: return "controller port not translated";
    case CMCFG_NO_WINDOW: return "no memory window translated";
    default: break;
    }
    if (status < 0) return device_was_created ? "link not created" : "device not created";
    return "unexpected status";
}

} // namespace sim
