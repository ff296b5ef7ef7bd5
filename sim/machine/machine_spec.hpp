// A simulated machine as a machine description (TOML) gives it. Every field
// left out of a description keeps the typical boot's value.
#pragma once

#include "sim/kernel/kernel.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct RegistryValueSpec {
    std::string name;
    bool is_string = false;
    std::uint32_t number = 0; // REG_DWORD
    std::string text;         // REG_SZ
};

// A key under the serial driver's parameters, e.g. "Serial1".
struct RegistryKeySpec {
    std::string name;
    std::vector<RegistryValueSpec> values;
};

struct ControllerSpec {
    std::uint16_t port = 0x3E0; // index port; the data port is the next one
    std::uint8_t id = 0x82;     // what register 0x00 of every bank reads
};

struct SocketSpec {
    std::uint16_t controller = 0x3E0;
    int bank = 0;
    std::string card = "nuvalt";        // "nuvalt", "none", or the .cis path as written
    std::vector<std::uint8_t> cis;      // the card's packed CIS (empty for "none")
    std::uint8_t detect = 0x0C;         // "both" 0x0C, "cd1" 0x04, "cd2" 0x08
    std::optional<std::uint64_t> ready_ms = 0; // nullopt: never ready
    std::uint8_t odd_fill = 0xFF;
    std::uint8_t status_or = 0x00;

    bool has_card() const { return card != "none"; }
};

struct MachineSpec {
    std::string name = "typical boot";
    std::uint32_t debug = 0;
    std::vector<RegistryKeySpec> registry;
    KernelFaults faults;
    HalPolicy hal;
    std::vector<ControllerSpec> controllers;
    std::vector<SocketSpec> sockets;
};

// A machine description that cannot be used: names the file, the key and why.
class MachineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The typical boot: Serial1 with PortAddress 0x2F8 and Interrupt 3; the HAL
// translating I/O to I/O and memory to memory; one controller at 0x3E0 with
// id 0x82; bank 0 holding the built-in Nuvalt card, bank 1 empty.
MachineSpec default_machine();

// Reads a description. `file_name` names it in errors; relative .cis paths
// are taken from `base_dir`.
MachineSpec parse_machine(std::string_view text, const std::string& file_name,
                          const std::filesystem::path& base_dir);
MachineSpec load_machine_file(const std::filesystem::path& path);

} // namespace sim
