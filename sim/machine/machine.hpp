// A simulated PC built from a machine description: the ISA bus with its
// socket controllers and cards, the simulated kernel, and the driver loaded
// on it. Runs the load (and the unload), then looks for the COM port's UART
// as a serial driver would, and writes the report.
#pragma once

#include "modem/cmext.h"
#include "sim/card/modem_card.hpp"
#include "sim/kernel/kernel.hpp"
#include "sim/machine/machine_spec.hpp"
#include "sim/pcic/controller.hpp"

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The names the driver gives its device object and link.
inline constexpr const char* kDriverDeviceName = "\\Device\\slotmdm";
inline constexpr const char* kDriverLinkName = "\\DosDevices\\slotmdm";

// What the serial probe found at the COM port.
struct SerialProbe {
    std::uint16_t port = 0;
    bool found = false;           // scratch register write and read-back
    std::optional<int> irq;       // the IRQ the transmitter-empty interrupt raised
    std::string reply_to_at;      // what the modem answered to "AT" (empty: nothing)
};

struct UnloadResult {
    bool device_deleted_first = false;
    bool link_removed = false;
    std::size_t port_writes = 0;
};

// The driver a machine loads: its entry routine, and how the machine hands
// it the Debug value the description asks for (null for a driver whose
// Debug is built in, as a kernel image's is). The unload routine is the one
// the entry routine installs in the driver object.
struct DriverBinding {
    NTSTATUS(NTAPI* entry)(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) = nullptr;
    void (*set_debug)(ULONG debug) = nullptr;
};

// The driver built from the sources into this program.
DriverBinding host_driver();

class Machine {
public:
    explicit Machine(const MachineSpec& description, DriverBinding driver = host_driver());
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Calls the driver's entry routine once; returns its status.
    NTSTATUS load();
    // Calls the unload routine the driver installed (if any).
    UnloadResult unload();
    // Looks for a UART at the record's COM port, as a serial driver would.
    SerialProbe probe();

    const MachineSpec& description() const { return spec_; }
    Kernel& kernel() { return kernel_; }
    IsaBus& bus() { return bus_; }
    std::optional<NTSTATUS> status() const { return status_; }
    // The record as the entry routine left it; nullopt when no device exists.
    const std::optional<CmExtension>& record() const { return record_; }
    const std::vector<std::unique_ptr<Controller>>& controllers() const { return controllers_; }

    struct CardSlot {
        std::uint16_t controller;
        int bank;
        ModemCard* card;
    };
    const std::vector<CardSlot>& cards() const { return cards_; }

    // The report of everything run so far (see the simulator's design).
    nlohmann::ordered_json report() const;
    // A short summary for a person.
    std::string summary() const;

private:
    // The load status in words ("not loaded" before the load).
    std::string meaning() const;

    MachineSpec spec_;
    DriverBinding driver_;
    VirtualClock clock_;
    IsaBus bus_;
    Kernel kernel_;
    std::vector<std::unique_ptr<Controller>> controllers_;
    std::vector<std::unique_ptr<ModemCard>> owned_cards_;
    std::vector<CardSlot> cards_;

    std::optional<NTSTATUS> status_;
    std::optional<CmExtension> record_;
    bool device_existed_ = false;
    bool link_existed_ = false;
    bool unload_installed_ = false;
    std::optional<SerialProbe> probe_;
    std::optional<UnloadResult> unload_;
};

// What a load status means, in words.
std::string status_meaning(NTSTATUS status, bool device_was_created);

} // namespace sim
