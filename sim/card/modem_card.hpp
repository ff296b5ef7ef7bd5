// The PC Card modem: attribute memory holding a CIS, the configuration
// option register, and the 16550 UART with a Hayes command responder that
// answer in I/O mode.
//
// Attribute memory holds the CIS in its first 4 KB: packed byte k at even
// address 2k, odd addresses reading odd_fill, even addresses past the image
// reading 0xFF. Nothing is mirrored above 4 KB: those addresses read 0xFF,
// except the COR, which sits wherever the CONFIG tuple puts it in the 26-bit
// attribute space. Only the COR is writable; common memory is absent (reads
// 0xFF, writes ignored).
//
// COR writes. The index field (bits 5..0) picks the configuration: an index
// that a CFTABLE_ENTRY with a decodable I/O base names puts the card into I/O
// mode at that base, any other index (0 included) puts it back into memory
// mode. The other bits are stored and read back but change nothing (the
// interrupt pin is modelled as a level either way). SRESET (bit 7) resets the
// card: memory mode, UART and modem back to their power-on state, and, as a
// hardware reset clears the COR, a COR that reads 0x80 until written again.
// Power off clears the COR and resets the card the same way.
//
// The UART answers at io_base .. io_base + 7 in I/O mode. The interrupt pin
// carries the UART's interrupt gated by MCR OUT2, as on a PC serial port: a
// PC serial driver sets OUT2 to enable the line.
#pragma once

#include "sim/hw/card.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class HayesModem;
class Uart16550;

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
    // Where the COR sits, from the CONFIG tuple; nullopt when the CIS gives
    // no usable address (the card then has no COR and stays in memory mode).
    std::optional<std::uint32_t> cor_address() const;

    // The UART and the modem behind it, for reports and tests.
    const Uart16550& uart() const;
    const HayesModem& modem() const;

    static constexpr std::uint32_t kAttributeSize = 0x1000;

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
