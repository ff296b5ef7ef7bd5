// What a PC Card offers its socket. The socket controller and the card are
// separate models that meet here: attribute memory, common memory and I/O
// cycles, the card's power and reset, and its interrupt request pin.
//
// Addresses are card addresses (26 bits for memory). The socket only calls
// the memory and I/O operations while the card runs (powered, outputs on,
// out of reset); card detect and ready timing belong to the socket.
#pragma once

#include <cstdint>
#include <optional>

namespace sim {

class Card {
public:
    virtual ~Card() = default;

    virtual std::uint8_t attr_read(std::uint32_t addr) = 0;
    virtual void attr_write(std::uint32_t addr, std::uint8_t value) = 0;
    virtual std::uint8_t common_read(std::uint32_t addr) = 0;
    virtual void common_write(std::uint32_t addr, std::uint8_t value) = 0;

    // I/O cycles the socket passes through a live I/O window. nullopt / false
    // when the card does not decode the port (not in I/O mode, or outside
    // its range).
    virtual std::optional<std::uint8_t> io_read(std::uint16_t port) = 0;
    virtual bool io_write(std::uint16_t port, std::uint8_t value) = 0;

    // Card power (Vcc) switched on or off. Power off clears the
    // configuration option register.
    virtual void set_power(bool on) = 0;

    // The card's interrupt request pin (IREQ#), asserted while true.
    virtual bool irq_pending() const = 0;
};

} // namespace sim
