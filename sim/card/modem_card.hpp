// The PC Card modem: attribute memory holding a CIS, the configuration
// option register, and the 16550 UART with a Hayes command responder that
// answer in I/O mode.
#pragma once

#include "sim/hw/card.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class ModemCard : public Card {
public:
    // packed_cis: the CIS in .cis file form (code, link, body, ...), laid
    // byte k at attribute address 2k. odd_fill: what odd addresses read.
    ModemCard(std::vector<std::uint8_t> packed_cis, std::uint8_t odd_fill);
    ~ModemCard() override;

    // The built-in card image (cards/nuvalt-thinpocket.cis).
    static std::vector<std::uint8_t> builtin_cis();

    std::uint8_t cor() const;
    bool io_mode() const;
    std::optional<std::uint16_t> io_base() const; // nullopt while not in I/O mode

    // Card interface.
    std::uint8_t attr_read(std::uint32_t addr) override;
    void attr_write(std::uint32_t addr, std::uint8_t value) override;
    std::uint8_t common_read(std::uint32_t addr) override;
    void common_write(std::uint32_t addr, std::uint8_t value) override;
    std::optional<std::uint8_t> io_read(std::uint16_t port) override;
    bool io_write(std::uint16_t port, std::uint8_t value) override;
    void set_power(bool on) override;
    bool irq_pending() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sim
