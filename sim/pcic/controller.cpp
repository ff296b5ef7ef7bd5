// The 82365SL-compatible socket controller model. Register numbers and bits
// come from modem/pcicreg.h, the same header the driver programs it with.
//
// State is kept as the registers themselves plus, per socket, what follows
// from them over time: whether the card is powered (to tell the card when
// that changes) and since when it has been running (for the ready line).
// Everything else, the Interface Status byte, window decoding and the
// interrupt line, is computed from the registers when asked.
#include "sim/pcic/controller.hpp"

#include "modem/pcicreg.h"

#include <stdexcept>
#include <string>

namespace sim {

namespace {

constexpr unsigned kBankSize = PCIC_BANK_SIZE;
constexpr unsigned kBanks = PCIC_BANK_COUNT;
constexpr unsigned kPageShift = PCIC_MEM_PAGE_SHIFT;
constexpr std::uint32_t kPageOffsetMask = (1u << PCIC_MEM_OFFSET_PAGE_BITS) - 1; // 14-bit page count
constexpr std::uint32_t kSysPages = 1u << (PCIC_SYS_ADDR_BITS - PCIC_MEM_PAGE_SHIFT);

static_assert(kBankSize * kBanks == 256);


// One socket's setup and what follows from its registers over time. Kept
// outside Impl so that it is a complete type wherever Impl holds it.
struct SocketState {
    SocketSetup setup;
    bool powered = false;                       // card power as last told to the card
    std::optional<std::uint64_t> running_since; // virtual time the card started running
};

} // namespace

struct Controller::Impl {
    using Socket = SocketState;

    // A memory access resolved through one live window.
    struct MemTarget {
        Socket* socket;
        bool attribute;
        std::uint32_t card_addr;
    };

    std::uint16_t index_port;
    std::uint8_t id;
    const VirtualClock& clock;
    std::array<std::uint8_t, 256> regs{};
    std::uint8_t index = 0;
    std::array<std::optional<Socket>, kBanks> sockets{};
    std::uint64_t version = 0;

    Impl(std::uint16_t port, std::uint8_t ident, const VirtualClock& c) : index_port(port), id(ident), clock(c) {}

    std::uint8_t reg(unsigned bank, unsigned r) const { return regs[PCIC_INDEX(bank, r)]; }

    // The card runs while powered, driven and out of reset.
    bool running_by_registers(unsigned bank) const {
        const std::uint8_t power = reg(bank, PCIC_POWER);
        return (power & PCIC_POWER_VCC_ENABLE) && (power & PCIC_POWER_OUTPUT_ENABLE) &&
               (reg(bank, PCIC_INTR) & PCIC_INTR_RESET_RELEASE);
    }

    bool card_running(const Socket& s) const { return s.setup.card && s.running_since.has_value(); }

    bool card_ready(const Socket& s) const {
        if (!card_running(s) || !s.setup.ready_ns) return false;
        return clock.now_ns() - *s.running_since >= *s.setup.ready_ns;
    }

    std::uint8_t interface_status(unsigned bank) const {
        const auto& s = sockets[bank];
        if (!s) return 0x00;
        if (!s->setup.card) return s->setup.status_or;
        std::uint8_t v = static_cast<std::uint8_t>(s->setup.detect | PCIC_IF_STATUS_BVD_GOOD);
        if (s->powered) v |= PCIC_IF_STATUS_POWER;
        if (card_ready(*s)) v |= PCIC_IF_STATUS_READY;
        return static_cast<std::uint8_t>(v | s->setup.status_or);
    }

    std::uint8_t read_register(std::uint8_t idx) const {
        switch (PCIC_REG_OF(idx)) {
        case PCIC_ID_REV: return id;
        case PCIC_IF_STATUS: return interface_status(PCIC_BANK_OF(idx));
        default: return regs[idx];
        }
    }

    // After a register write: tell the card about a power change and start
    // or stop its running time.
    void update_socket(unsigned bank) {
        auto& s = sockets[bank];
        if (!s) return;
        const bool power = reg(bank, PCIC_POWER) & PCIC_POWER_VCC_ENABLE;
        if (power != s->powered) {
            s->powered = power;
            if (s->setup.card) s->setup.card->set_power(power);
        }
        const bool run = running_by_registers(bank);
        if (run && !s->running_since) s->running_since = clock.now_ns();
        if (!run) s->running_since.reset();
    }

    void write_register(std::uint8_t idx, std::uint8_t value) {
        // Any data write may change what the memory space shows (window
        // registers, card power, reset): the version moves on every one, so a
        // refresh is never missed.
        ++version;
        const unsigned r = PCIC_REG_OF(idx);
        if (r == PCIC_ID_REV || r == PCIC_IF_STATUS) return; // read-only
        regs[idx] = value;
        update_socket(PCIC_BANK_OF(idx));
    }

    // The lowest-numbered live memory window (of the lowest bank) covering
    // ISA address addr. Banks without a socket decode nothing.
    std::optional<MemTarget> resolve_memory(std::uint32_t addr) {
        const std::uint32_t page = addr >> kPageShift;
        if (page >= kSysPages) return std::nullopt;
        for (unsigned bank = 0; bank < kBanks; ++bank) {
            if (!sockets[bank]) continue;
            const std::uint8_t enable = reg(bank, PCIC_WIN_ENABLE);
            for (unsigned w = 0; w < PCIC_MEM_WINDOWS; ++w) {
                if (!(enable & PCIC_WIN_ENABLE_MEM(w))) continue;
                const unsigned b = PCIC_MEM_WIN(w);
                const std::uint32_t start =
                    static_cast<std::uint32_t>((reg(bank, b + PCIC_MEM_START_HIGH) & PCIC_MEM_START_ADDR_MASK) << 8) |
                    reg(bank, b + PCIC_MEM_START_LOW);
                const std::uint32_t stop =
                    static_cast<std::uint32_t>((reg(bank, b + PCIC_MEM_STOP_HIGH) & PCIC_MEM_STOP_ADDR_MASK) << 8) |
                    reg(bank, b + PCIC_MEM_STOP_LOW);
                if (page < start || page > stop) continue;
                const std::uint8_t off_high = reg(bank, b + PCIC_MEM_OFFSET_HIGH);
                const std::uint32_t offset =
                    static_cast<std::uint32_t>((off_high & PCIC_MEM_OFFSET_ADDR_MASK) << 8) |
                    reg(bank, b + PCIC_MEM_OFFSET_LOW);
                const std::uint32_t card_page = (page + offset) & kPageOffsetMask;
                const std::uint32_t card_addr = (card_page << kPageShift) | (addr & ((1u << kPageShift) - 1));
                return MemTarget{&*sockets[bank], (off_high & PCIC_MEM_OFFSET_ATTR) != 0, card_addr};
            }
        }
        return std::nullopt;
    }

    // The socket whose live I/O window covers the port and passes cycles now:
    // the card runs and the socket has the I/O card interface.
    Socket* resolve_io(std::uint16_t port) {
        for (unsigned bank = 0; bank < kBanks; ++bank) {
            auto& s = sockets[bank];
            if (!s || !card_running(*s) || !(reg(bank, PCIC_INTR) & PCIC_INTR_IO_CARD)) continue;
            const std::uint8_t enable = reg(bank, PCIC_WIN_ENABLE);
            for (unsigned w = 0; w < PCIC_IO_WINDOWS; ++w) {
                if (!(enable & PCIC_WIN_ENABLE_IO(w))) continue;
                const unsigned b = PCIC_IO_WIN(w);
                const unsigned start = static_cast<unsigned>(reg(bank, b + PCIC_IO_START_HIGH) << 8) |
                                       reg(bank, b + PCIC_IO_START_LOW);
                const unsigned stop = static_cast<unsigned>(reg(bank, b + PCIC_IO_STOP_HIGH) << 8) |
                                      reg(bank, b + PCIC_IO_STOP_LOW);
                if (port >= start && port <= stop) return &*s;
            }
        }
        return nullptr;
    }
};

Controller::Controller(std::uint16_t index_port, std::uint8_t id, const VirtualClock& clock)
    : impl_(std::make_unique<Impl>(index_port, id, clock)) {}

Controller::~Controller() = default;

void Controller::add_socket(const SocketSetup& setup) {
    if (setup.bank < 0 || setup.bank >= static_cast<int>(kBanks))
        throw std::invalid_argument("socket bank " + std::to_string(setup.bank) + " is not 0..3");
    auto& slot = impl_->sockets[static_cast<unsigned>(setup.bank)];
    if (slot) throw std::invalid_argument("socket bank " + std::to_string(setup.bank) + " is already equipped");
    slot.emplace();
    slot->setup = setup;
    ++impl_->version;
    // The registers may already switch the socket on (a socket added after
    // programming): bring the card's state in line with them.
    impl_->update_socket(static_cast<unsigned>(setup.bank));
}

std::uint16_t Controller::index_port() const { return impl_->index_port; }
std::uint8_t Controller::id() const { return impl_->id; }

std::uint8_t Controller::peek_register(std::uint8_t index) const { return impl_->read_register(index); }

std::optional<std::uint8_t> Controller::port_read(std::uint16_t port) {
    if (port == impl_->index_port) return impl_->index;
    if (port == static_cast<std::uint16_t>(impl_->index_port + PCIC_DATA_PORT_OFFSET))
        return impl_->read_register(impl_->index);
    if (Impl::Socket* s = impl_->resolve_io(port)) return s->setup.card->io_read(port);
    return std::nullopt;
}

bool Controller::port_write(std::uint16_t port, std::uint8_t value) {
    if (port == impl_->index_port) {
        impl_->index = value;
        return true;
    }
    if (port == static_cast<std::uint16_t>(impl_->index_port + PCIC_DATA_PORT_OFFSET)) {
        impl_->write_register(impl_->index, value);
        return true;
    }
    if (Impl::Socket* s = impl_->resolve_io(port)) {
        // A card's I/O side could change what its memory reads give.
        ++impl_->version;
        return s->setup.card->io_write(port, value);
    }
    return false;
}

std::optional<std::uint8_t> Controller::mem_read(std::uint32_t addr) {
    auto t = impl_->resolve_memory(addr);
    if (!t) return std::nullopt;
    if (!impl_->card_running(*t->socket)) return 0xFF; // decoded, but nothing drives the data lines
    Card* card = t->socket->setup.card;
    return t->attribute ? card->attr_read(t->card_addr) : card->common_read(t->card_addr);
}

bool Controller::mem_write(std::uint32_t addr, std::uint8_t value) {
    auto t = impl_->resolve_memory(addr);
    if (!t) return false;
    if (!impl_->card_running(*t->socket)) return true; // decoded; the cycle goes nowhere
    Card* card = t->socket->setup.card;
    if (t->attribute)
        card->attr_write(t->card_addr, value);
    else
        card->common_write(t->card_addr, value);
    ++impl_->version;
    return true;
}

std::uint64_t Controller::memory_version() const { return impl_->version; }

int Controller::irq_level() const {
    for (unsigned bank = 0; bank < kBanks; ++bank) {
        const auto& s = impl_->sockets[bank];
        if (!s || !impl_->card_running(*s)) continue;
        const std::uint8_t intr = impl_->reg(bank, PCIC_INTR);
        if (!(intr & PCIC_INTR_IO_CARD)) continue;
        const int level = intr & PCIC_INTR_IRQ_MASK;
        if (level != 0 && s->setup.card->irq_pending()) return level;
    }
    return 0;
}

} // namespace sim
