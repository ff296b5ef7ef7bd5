// Shared pieces of the controller tests: a small card whose memory and pins
// a test can see, a simulated machine with the controller model on its bus,
// and a decoder that turns the kernel's port log into register operations.
#pragma once

#include "sim/hw/card.hpp"
#include "sim/hw/clock.hpp"
#include "sim/hw/isa_bus.hpp"
#include "sim/kernel/kernel.hpp"
#include "sim/pcic/controller.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <vector>

namespace pcictest {

// A card with 4 KB of attribute and of common memory, each filled with its
// own pattern so a test can tell which space (and which address) a window
// reached, and an I/O range it decodes.
class FakeCard : public sim::Card {
public:
    static constexpr std::uint32_t kSize = 0x1000;
    static std::uint8_t attr_pattern(std::uint32_t a) { return static_cast<std::uint8_t>(a * 7 + 1); }
    static std::uint8_t common_pattern(std::uint32_t a) { return static_cast<std::uint8_t>(a * 13 + 0x55); }

    FakeCard() {
        for (std::uint32_t a = 0; a < kSize; ++a) {
            attr[a] = attr_pattern(a);
            common[a] = common_pattern(a);
        }
    }

    std::uint8_t attr_read(std::uint32_t addr) override { return addr < kSize ? attr[addr] : 0xFF; }
    void attr_write(std::uint32_t addr, std::uint8_t value) override {
        attr_writes.push_back({addr, value});
        if (addr < kSize) attr[addr] = value;
    }
    std::uint8_t common_read(std::uint32_t addr) override { return addr < kSize ? common[addr] : 0xFF; }
    void common_write(std::uint32_t addr, std::uint8_t value) override {
        if (addr < kSize) common[addr] = value;
    }
    std::optional<std::uint8_t> io_read(std::uint16_t port) override {
        io_reads.push_back(port);
        if (port < io_base || port >= io_base + 8) return std::nullopt;
        return static_cast<std::uint8_t>(0xA0 + (port - io_base));
    }
    bool io_write(std::uint16_t port, std::uint8_t value) override {
        if (port < io_base || port >= io_base + 8) return false;
        io_writes.push_back({port, value});
        return true;
    }
    void set_power(bool on) override { power_events.push_back(on); }
    bool irq_pending() const override { return irq; }

    struct Write {
        std::uint32_t addr;
        std::uint8_t value;
        bool operator==(const Write&) const = default;
    };
    std::array<std::uint8_t, kSize> attr{};
    std::array<std::uint8_t, kSize> common{};
    std::vector<Write> attr_writes;
    std::vector<std::uint16_t> io_reads;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> io_writes;
    std::vector<bool> power_events;
    std::uint16_t io_base = 0x2F8;
    bool irq = false;
};

// One register operation as the driver made it through the index/data pair,
// or a wait (count in units of 100 us).
struct RegOp {
    enum Kind : char { Read = 'R', Write = 'W', Wait = 'S' };
    Kind kind;
    unsigned index; // full 8-bit index (bank included); 0 for waits
    unsigned value; // byte read or written, or the wait count
    bool operator==(const RegOp&) const = default;
};
inline RegOp R(unsigned index, unsigned value) { return {RegOp::Read, index, value}; }
inline RegOp W(unsigned index, unsigned value) { return {RegOp::Write, index, value}; }
inline RegOp S(unsigned count) { return {RegOp::Wait, 0, count}; }

inline std::ostream& operator<<(std::ostream& os, const RegOp& op) {
    os << static_cast<char>(op.kind) << std::hex << std::showbase;
    if (op.kind == RegOp::Wait) return os << '(' << std::dec << op.value << ')';
    return os << '(' << op.index << ", " << op.value << ')' << std::dec;
}

// Decodes the port log of a controller at index port `port`: every data
// access must follow an index write, and every wait must be whole counts of
// 1 us stall calls. Anything else is reported as a test failure.
inline std::vector<RegOp> reg_ops(const std::vector<sim::PortOp>& log, std::uint16_t port) {
    std::vector<RegOp> ops;
    int index = -1; // the index written last, until a data access uses it
    for (const sim::PortOp& p : log) {
        switch (p.kind) {
        case sim::PortOp::Kind::Stall:
            EXPECT_EQ(p.us, p.calls) << "every stall call asks for 1 us";
            EXPECT_EQ(p.calls % 100, 0u) << "waits come in whole counts of 100 calls";
            EXPECT_EQ(index, -1) << "wait between an index write and its data access";
            ops.push_back(S(static_cast<unsigned>(p.calls / 100)));
            index = -1;
            break;
        case sim::PortOp::Kind::Out:
            if (p.port == port) {
                EXPECT_EQ(index, -1) << "index written twice without a data access";
                index = p.value;
                break;
            }
            [[fallthrough]];
        case sim::PortOp::Kind::In:
            if (p.port != port + 1) {
                ADD_FAILURE() << "port operation on " << p.port << " outside the controller";
                break;
            }
            if (index < 0) {
                ADD_FAILURE() << "data access without a fresh index write";
                break;
            }
            {
                const auto i = static_cast<unsigned>(index);
                ops.push_back(p.kind == sim::PortOp::Kind::In ? R(i, p.value) : W(i, p.value));
            }
            index = -1;
            break;
        }
    }
    EXPECT_EQ(index, -1) << "index written with no data access after it";
    return ops;
}

// A simulated machine: the kernel, and one controller on the bus whose
// sockets the test equips. The kernel is current for the machine's life.
struct Machine {
    explicit Machine(std::uint16_t port = 0x3E0, std::uint8_t id = 0x82) : pcic(port, id, clock) {
        bus.attach_ports(&pcic);
        bus.attach_memory(&pcic);
        bus.attach_irq(&pcic);
    }

    // Sets a register directly through the controller's ports, outside the
    // driver and the port log.
    void poke(std::uint8_t index, std::uint8_t value) {
        bus.out(pcic.index_port(), index);
        bus.out(static_cast<std::uint16_t>(pcic.index_port() + 1), value);
    }

    std::vector<RegOp> ops() const { return reg_ops(kernel.port_log(), pcic.index_port()); }

    sim::VirtualClock clock;
    sim::IsaBus bus;
    sim::Kernel kernel{bus, clock};
    sim::Controller pcic;
    sim::KernelScope scope{kernel};
};

} // namespace pcictest
