#include "sim/card/modem_card.hpp"

#include "sim/card/card_cis.hpp"
#include "sim/card/hayes.hpp"
#include "sim/card/uart16550.hpp"

#include <algorithm>
#include <span>
#include <utility>

namespace sim {

namespace {

constexpr std::uint32_t kCardAddressMask = (1u << 26) - 1;
constexpr std::uint8_t kCorSreset = 0x80;
constexpr std::uint8_t kAbsent = 0xFF;

} // namespace

struct ModemCard::Impl {
    Impl(std::vector<std::uint8_t> packed, std::uint8_t fill)
        : packed_cis(std::move(packed)), odd_fill(fill),
          info(read_card_cis(std::span(packed_cis).first(
              std::min<std::size_t>(packed_cis.size(), kAttributeSize / 2)))) {}

    void reset_function() {
        io_base.reset();
        modem.reset();
        uart.reset();
    }

    void write_cor(std::uint8_t value) {
        if (value & kCorSreset) {
            cor = kCorSreset;
            reset_function();
            return;
        }
        cor = value;
        io_base = info.io_base_for(value & cis::kIndexMask);
    }

    bool decodes(std::uint16_t port) const {
        return io_base && port >= *io_base && port - *io_base < uart::kPorts;
    }

    std::vector<std::uint8_t> packed_cis;
    std::uint8_t odd_fill;
    CardCis info;
    std::uint8_t cor = 0;
    std::optional<std::uint16_t> io_base;
    HayesModem modem;
    Uart16550 uart{modem};
};

ModemCard::ModemCard(std::vector<std::uint8_t> packed_cis, std::uint8_t odd_fill)
    : impl_(std::make_unique<Impl>(std::move(packed_cis), odd_fill)) {}

ModemCard::~ModemCard() = default;

std::uint8_t ModemCard::cor() const { return impl_->cor; }
bool ModemCard::io_mode() const { return impl_->io_base.has_value(); }
std::optional<std::uint16_t> ModemCard::io_base() const { return impl_->io_base; }
std::optional<std::uint32_t> ModemCard::cor_address() const { return impl_->info.cor_address; }
const Uart16550& ModemCard::uart() const { return impl_->uart; }
const HayesModem& ModemCard::modem() const { return impl_->modem; }

std::uint8_t ModemCard::attr_read(std::uint32_t addr) {
    addr &= kCardAddressMask;
    if (addr == impl_->info.cor_address) return impl_->cor;
    if (addr >= kAttributeSize) return kAbsent;
    if (addr & 1) return impl_->odd_fill;
    const std::size_t k = addr / 2;
    return k < impl_->packed_cis.size() ? impl_->packed_cis[k] : kAbsent;
}

void ModemCard::attr_write(std::uint32_t addr, std::uint8_t value) {
    addr &= kCardAddressMask;
    if (addr == impl_->info.cor_address) impl_->write_cor(value);
}

std::uint8_t ModemCard::common_read(std::uint32_t) { return kAbsent; }
void ModemCard::common_write(std::uint32_t, std::uint8_t) {}

std::optional<std::uint8_t> ModemCard::io_read(std::uint16_t port) {
    if (!impl_->decodes(port)) return std::nullopt;
    return impl_->uart.read(static_cast<std::uint8_t>(port - *impl_->io_base));
}

bool ModemCard::io_write(std::uint16_t port, std::uint8_t value) {
    if (!impl_->decodes(port)) return false;
    impl_->uart.write(static_cast<std::uint8_t>(port - *impl_->io_base), value);
    return true;
}

void ModemCard::set_power(bool on) {
    if (on) return; // everything was cleared when power went off
    impl_->cor = 0;
    impl_->reset_function();
}

bool ModemCard::irq_pending() const { return impl_->io_base && impl_->uart.irq_output(); }

} // namespace sim
