// An 82365SL-compatible socket controller on the ISA bus: one index/data
// port pair, 256 registers in four banks of 0x40, and the sockets that some
// of the banks serve.
//
// The controller decodes its two ports, the ISA memory that live memory
// windows of its sockets cover, and the ISA ports that live I/O windows
// cover; it drives the ISA IRQ that a socket steers its card's interrupt to.
#pragma once

#include "sim/hw/card.hpp"
#include "sim/hw/clock.hpp"
#include "sim/hw/isa_bus.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace sim {

// How a socket is equipped, as a machine description gives it.
struct SocketSetup {
    int bank = 0;                // 0..3
    Card* card = nullptr;        // nullptr: empty socket (not owned)
    std::uint8_t detect = 0x0C;  // card-detect bits shown while a card is in: 0x0C, 0x04 or 0x08
    std::optional<std::uint64_t> ready_ns = 0; // running time until ready; nullopt: never
    std::uint8_t status_or = 0x00; // ORed into Interface Status
};

class Controller : public PortDevice, public MemoryDevice, public IrqSource {
public:
    Controller(std::uint16_t index_port, std::uint8_t id, const VirtualClock& clock);
    ~Controller() override;

    void add_socket(const SocketSetup& setup);

    std::uint16_t index_port() const;
    std::uint8_t id() const;

    // What a read of register `index` (0..255) gives now; no side effects.
    std::uint8_t peek_register(std::uint8_t index) const;

    // PortDevice, MemoryDevice, IrqSource.
    std::optional<std::uint8_t> port_read(std::uint16_t port) override;
    bool port_write(std::uint16_t port, std::uint8_t value) override;
    std::optional<std::uint8_t> mem_read(std::uint32_t addr) override;
    bool mem_write(std::uint32_t addr, std::uint8_t value) override;
    std::uint64_t memory_version() const override;
    int irq_level() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sim
