// The driver's controller layer (ntio, ntpcic) against the simulated
// kernel's port log, with the controller model answering on the bus.
#include "pcic_support.hpp"

#include "modem/ntio.h"
#include "modem/ntpcic.h"

#include <algorithm>
#include <functional>
#include <string>

namespace pcictest {
namespace {

using sim::PortOp;

PortOp Out(std::uint16_t port, std::uint8_t value) { return {PortOp::Kind::Out, port, value}; }
PortOp In(std::uint16_t port, std::uint8_t value) { return {PortOp::Kind::In, port, value}; }

// ---- Register access and port output ----

struct RawCase {
    std::string name;
    std::function<void()> call;
    std::vector<PortOp> log;
};

TEST(RegisterAccess, WritesTheIndexAnewThenTouchesTheDataPort) {
    const std::vector<RawCase> cases = {
        {"read socket 1 reg 0", [] { EXPECT_EQ(NtPCIC_Read_Reg(1, 0x00, 0x3E0), 0x82); },
         {Out(0x3E0, 0x00), In(0x3E1, 0x82)}},
        {"write socket 2 reg 6", [] { NtPCIC_Write_Reg(2, 0x06, 0x61, 0x3E0); },
         {Out(0x3E0, 0x46), Out(0x3E1, 0x61)}},
        {"write socket 3 at 0x3E4", [] { NtPCIC_Write_Reg(3, 0x03, 0x63, 0x3E4); },
         {Out(0x3E4, 0x83), Out(0x3E5, 0x63)}},
        {"socket 4 reg 0x15", [] { NtPCIC_Write_Reg(4, 0x15, 0x01, 0x3E0); },
         {Out(0x3E0, 0xD5), Out(0x3E1, 0x01)}},
        {"read socket 4 reg 0x15", [] { EXPECT_EQ(NtPCIC_Read_Reg(4, 0x15, 0x3E0), 0x00); },
         {Out(0x3E0, 0xD5), In(0x3E1, 0x00)}},
        {"only the low 8 bits of a value", [] { NtPCIC_Write_Reg(1, 0x06, 0x1F5, 0x3E0); },
         {Out(0x3E0, 0x06), Out(0x3E1, 0xF5)}},
        {"CMAC_outb low 8 bits", [] { CMAC_outb(0x2F8, 0x1F5); }, {Out(0x2F8, 0xF5)}},
        {"CMAC_inb of a floating port", [] { EXPECT_EQ(CMAC_inb(0x300), 0xFF); }, {In(0x300, 0xFF)}},
    };
    for (const RawCase& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        c.call();
        EXPECT_EQ(m.kernel.port_log(), c.log);
    }
}

TEST(RegisterAccess, ReadReturnsWhatTheRegisterHolds) {
    Machine m;
    m.poke(0x46, 0x5A);
    EXPECT_EQ(NtPCIC_Read_Reg(2, 0x06, 0x3E0), 0x5A);
    NtPCIC_Write_Reg(2, 0x07, 0xC3, 0x3E0);
    EXPECT_EQ(m.pcic.peek_register(0x47), 0xC3);
}

TEST(Ntusecwait, MakesOneHundredStallsOfOneMicrosecondPerCount) {
    struct Case {
        LONG count;
        std::uint64_t calls;
    };
    for (const Case c : {Case{0, 0}, Case{-5, 0}, Case{1, 100}, Case{200, 20000}}) {
        SCOPED_TRACE(c.count);
        Machine m;
        Ntusecwait(c.count);
        EXPECT_EQ(m.kernel.stall_calls(), c.calls);
        EXPECT_EQ(m.kernel.stall_us(), c.calls);
        EXPECT_EQ(m.clock.now_ns(), c.calls * 1000);
        if (c.calls == 0)
            EXPECT_TRUE(m.kernel.port_log().empty());
        else
            EXPECT_EQ(m.kernel.port_log(), (std::vector<PortOp>{{PortOp::Kind::Stall, 0, 0, c.calls, c.calls}}));
    }
}

// ---- Socket power-up and reset ----

TEST(Enable, NoCardDetectedIsOneReadAndNothingElse) {
    // Interface Status values without a card-detect bit, from a bank with no
    // socket, an empty socket, and an empty socket whose status shows odd bits.
    struct Case {
        std::string name;
        bool socket;
        std::uint8_t status_or;
    };
    for (const Case& c : {Case{"no socket in the bank", false, 0x00}, Case{"empty socket", true, 0x00},
                          Case{"status 0x03", true, 0x03}, Case{"status 0xF3", true, 0xF3}}) {
        SCOPED_TRACE(c.name);
        Machine m;
        if (c.socket) m.pcic.add_socket({.bank = 1, .card = nullptr, .status_or = c.status_or});
        EXPECT_EQ(NtPCIC_Enable(2, 0x3E0), 1);
        EXPECT_EQ(m.ops(), (std::vector<RegOp>{R(0x41, c.status_or)}));
    }
}

// Socket 2, ready on the first poll: the whole sequence, in order.
TEST(Enable, FullSequenceOnSocketTwoReadyAtFirstPoll) {
    for (std::uint8_t detect : {std::uint8_t{0x0C}, std::uint8_t{0x04}, std::uint8_t{0x08}}) {
        SCOPED_TRACE(static_cast<int>(detect));
        Machine m;
        FakeCard card;
        m.pcic.add_socket({.bank = 1, .card = &card, .detect = detect, .ready_ns = 0});
        m.poke(0x42, 0x20); // auto-power bit set before: it is kept by the AND
        const unsigned off = detect | 0x03;
        EXPECT_EQ(NtPCIC_Enable(2, 0x3E0), 0);
        EXPECT_EQ(m.ops(), (std::vector<RegOp>{
                               R(0x41, off), W(0x45, 0x00), W(0x43, 0x00), R(0x42, 0x20), W(0x42, 0x20),
                               S(100), W(0x42, 0x15), S(20000), W(0x42, 0x95), S(50), W(0x43, 0x40),
                               S(200), R(0x41, off | 0x40 | 0x20), S(200)}));
        EXPECT_EQ(m.kernel.stall_calls(), 2'055'000u);
        EXPECT_EQ(card.power_events, (std::vector<bool>{true}));
    }
}

TEST(Enable, PowerRegisterReadingAllOnesIsCycled) {
    Machine m;
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card});
    m.poke(0x02, 0xFF);
    ASSERT_EQ(card.power_events, (std::vector<bool>{true}));
    EXPECT_EQ(NtPCIC_Enable(1, 0x3E0), 0);
    std::vector<unsigned> written;
    for (const RegOp& op : m.ops())
        if (op.kind == RegOp::Write && op.index == 0x02) written.push_back(op.value);
    EXPECT_EQ(written, (std::vector<unsigned>{0x6F, 0x15, 0x95}));
    // The card saw its power go off and on again.
    EXPECT_EQ(card.power_events, (std::vector<bool>{true, false, true}));
}

// The ready poll: up to 100 reads, a 20 ms wait before each, and 20 ms more
// once ready. Boundaries in virtual time: the k-th read comes k * 20 ms after
// the reset release.
TEST(Enable, ReadyPollBoundaries) {
    constexpr std::uint64_t ms = 1'000'000;
    struct Case {
        std::string name;
        std::optional<std::uint64_t> ready_ns;
        LONG result;
        unsigned polls;
    };
    const std::vector<Case> cases = {
        {"ready at once", 0, 0, 1},
        {"ready exactly at the first read", 20 * ms, 0, 1},
        {"just after the first read", 20 * ms + 1, 0, 2},
        {"ready on the 100th read", 2000 * ms, 0, 100},
        {"just after the 100th read", 2000 * ms + 1, 1, 100},
        {"never ready", std::nullopt, 1, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        FakeCard card;
        m.pcic.add_socket({.bank = 0, .card = &card, .ready_ns = c.ready_ns});
        EXPECT_EQ(NtPCIC_Enable(1, 0x3E0), c.result);

        const std::vector<RegOp> ops = m.ops();
        auto release = std::find(ops.begin(), ops.end(), W(0x03, 0x40));
        ASSERT_NE(release, ops.end());
        std::vector<RegOp> expected_tail;
        for (unsigned k = 1; k <= c.polls; ++k) {
            expected_tail.push_back(S(200));
            expected_tail.push_back(R(0x01, (k == c.polls && c.result == 0) ? 0x6F : 0x4F));
        }
        if (c.result == 0) expected_tail.push_back(S(200)); // never after a failed last read
        EXPECT_EQ(std::vector<RegOp>(release + 1, ops.end()), expected_tail);

        const std::uint64_t expected_counts = 100 + 20000 + 50 + 200 * c.polls + (c.result == 0 ? 200 : 0);
        EXPECT_EQ(m.kernel.stall_calls(), expected_counts * 100);
    }
}

// A card that never became ready is reported like an empty socket, and the
// socket is left as the sequence left it: powered, driven, out of reset.
TEST(Enable, NeverReadyLeavesTheSocketRunningAndReportsNoCard) {
    Machine m;
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card, .ready_ns = std::nullopt});
    EXPECT_EQ(NtPCIC_Enable(1, 0x3E0), 1);
    EXPECT_EQ(m.kernel.stall_calls(), 4'015'000u); // 4.015 s
    EXPECT_EQ(m.pcic.peek_register(0x02), 0x95);
    EXPECT_EQ(m.pcic.peek_register(0x03), 0x40);
}

// ---- Memory windows ----

struct MemCase {
    std::string name;
    ULONG window, sys, length, card, flags;
    std::array<unsigned, 6> block; // start low, start high, stop low, stop high, offset low, offset high
};

TEST(EnableMemory, RegisterTable) {
    const std::vector<MemCase> cases = {
        {"configuration call", 0, 0xC8000, 0x1000, 0, 8, {0xC8, 0x00, 0xC8, 0x00, 0x38, 0x7F}},
        {"window 4", 4, 0xC8000, 0x1000, 0, 8, {0xC8, 0x00, 0xC8, 0x00, 0x38, 0x7F}},
        {"flags 0x04: 16-bit, common", 0, 0xC8000, 0x1000, 0, 0x04, {0xC8, 0x80, 0xC8, 0x00, 0x38, 0x3F}},
        {"flags 0xC0: wait states", 0, 0xC8000, 0x1000, 0, 0xC0, {0xC8, 0x00, 0xC8, 0xC0, 0x38, 0x3F}},
        {"flags 0", 0, 0xC8000, 0x1000, 0, 0, {0xC8, 0x00, 0xC8, 0x00, 0x38, 0x3F}},
        {"flags 0x1FF", 0, 0xC8000, 0x1000, 0, 0x1FF, {0xC8, 0x80, 0xC8, 0xC0, 0x38, 0x7F}},
        {"ignored flag bits only", 0, 0xC8000, 0x1000, 0, 0x133, {0xC8, 0x00, 0xC8, 0x00, 0x38, 0x3F}},
        {"system address 0xD00000", 0, 0xD00000, 0x1000, 0, 0, {0x00, 0x0D, 0x00, 0x0D, 0x00, 0x33}},
        {"card address 0x2000", 0, 0xC8000, 0x1000, 0x2000, 8, {0xC8, 0x00, 0xC8, 0x00, 0x3A, 0x7F}},
        {"length 0x2000", 0, 0xC8000, 0x2000, 0, 8, {0xC8, 0x00, 0xC9, 0x00, 0x38, 0x7F}},
        {"length 0x800", 0, 0xC8000, 0x800, 0, 8, {0xC8, 0x00, 0xC8, 0x00, 0x38, 0x7F}},
        {"length 0x1001", 0, 0xC8000, 0x1001, 0, 8, {0xC8, 0x00, 0xC9, 0x00, 0x38, 0x7F}},
        {"card above system", 2, 0x10000, 0x1000, 0x3FFF000, 8, {0x10, 0x00, 0x10, 0x00, 0xEF, 0x7F}},
    };
    for (const MemCase& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        m.poke(0x46, 0x80); // I/O window 1 already on
        m.poke(0x43, 0x45); // reset released, IRQ 5
        EXPECT_EQ(NtPCIC_Enable_Memory(2, c.window, c.sys, c.length, c.card, c.flags, 0x3E0), 0);
        const unsigned b = 0x40 + 0x10 + 8 * c.window;
        const unsigned e = 1u << c.window;
        EXPECT_EQ(m.ops(), (std::vector<RegOp>{W(b + 0, c.block[0]), W(b + 1, c.block[1]), W(b + 2, c.block[2]),
                                               W(b + 3, c.block[3]), W(b + 4, c.block[4]), W(b + 5, c.block[5]),
                                               R(0x46, 0x80), W(0x46, 0x80 | 0x20 | e), R(0x43, 0x45),
                                               W(0x43, 0x65)}));
    }
}

// Every window paragraph the configuration sequence searches maps card
// attribute address 0 at the window's first byte.
TEST(EnableMemory, SearchedSegments) {
    for (unsigned h = 0xC800; h <= 0xEE00; h += 0x100) {
        SCOPED_TRACE(h);
        Machine m;
        NtPCIC_Enable_Memory(1, 0, h << 4, 0x1000, 0, 8, 0x3E0);
        const unsigned page = h >> 8;
        const std::array<unsigned, 6> want = {page, 0x00, page, 0x00, (0x100 - page) & 0xFF, 0x7F};
        for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(m.pcic.peek_register(static_cast<std::uint8_t>(0x10 + i)), want[i]);
        EXPECT_EQ(m.pcic.peek_register(0x06), 0x21);
        EXPECT_EQ(m.pcic.peek_register(0x03), 0x20);
    }
}

// A window number with no register block writes nothing at all: it must not
// reach the I/O window registers or the next socket's bank.
TEST(EnableMemory, WindowOutsideZeroToFourWritesNothing) {
    for (ULONG w : {5u, 7u, 8u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(w);
        Machine m;
        EXPECT_EQ(NtPCIC_Enable_Memory(1, w, 0xC8000, 0x1000, 0, 8, 0x3E0), 0);
        EXPECT_TRUE(m.kernel.port_log().empty());
    }
}

// ---- I/O windows ----

TEST(EnableIo, SequenceWithEnableRegisterAllOnes) {
    Machine m;
    m.poke(0x06, 0xFF);
    m.poke(0x03, 0x40);
    EXPECT_EQ(NtPCIC_Enable_IO(1, 0, 0x2F8, 8, 4, 0x3E0), 0);
    EXPECT_EQ(m.ops(), (std::vector<RegOp>{R(0x03, 0x40), W(0x03, 0x60), S(200), W(0x08, 0xF8), W(0x09, 0x02),
                                           W(0x0A, 0xFF), W(0x0B, 0x02), R(0x07, 0x00), W(0x07, 0x04), S(200),
                                           R(0x06, 0xFF), W(0x06, 0xBF), S(200), W(0x06, 0xFF), S(1000)}));
}

TEST(EnableIo, RegisterTable) {
    struct Case {
        std::string name;
        ULONG window, first, count, flags;
        std::uint8_t control_before;
        unsigned block;                  // 0x08 or 0x0C
        std::array<unsigned, 4> regs;    // start low, start high, stop low, stop high
        unsigned control_after, enable_bit;
    };
    const std::vector<Case> cases = {
        {"COM1", 0, 0x3F8, 8, 4, 0x00, 0x08, {0xF8, 0x03, 0xFF, 0x03}, 0x04, 0x40},
        {"COM2", 0, 0x2F8, 8, 4, 0x00, 0x08, {0xF8, 0x02, 0xFF, 0x02}, 0x04, 0x40},
        {"COM3", 0, 0x3E8, 8, 4, 0x00, 0x08, {0xE8, 0x03, 0xEF, 0x03}, 0x04, 0x40},
        {"COM4", 0, 0x2E8, 8, 4, 0x00, 0x08, {0xE8, 0x02, 0xEF, 0x02}, 0x04, 0x40},
        {"window 1", 1, 0x2F8, 8, 4, 0x00, 0x0C, {0xF8, 0x02, 0xFF, 0x02}, 0x40, 0x80},
        {"window number 7", 7, 0x2F8, 8, 4, 0x00, 0x0C, {0xF8, 0x02, 0xFF, 0x02}, 0x40, 0x80},
        {"window number 2", 2, 0x2F8, 8, 4, 0x00, 0x0C, {0xF8, 0x02, 0xFF, 0x02}, 0x40, 0x80},
        {"flags 0x1F on window 0", 0, 0x2F8, 8, 0x1F, 0x00, 0x08, {0xF8, 0x02, 0xFF, 0x02}, 0x0F, 0x40},
        {"flags 0x1F on window 1", 1, 0x2F8, 8, 0x1F, 0x00, 0x0C, {0xF8, 0x02, 0xFF, 0x02}, 0xF0, 0x80},
        {"first port 0x2FC", 0, 0x2FC, 8, 4, 0x00, 0x08, {0xFC, 0x02, 0x03, 0x03}, 0x04, 0x40},
        {"no ports", 0, 0x2F8, 0, 4, 0x00, 0x08, {0xF8, 0x02, 0xF7, 0x02}, 0x04, 0x40},
        {"first port above 16 bits", 0, 0x112F8, 8, 4, 0x00, 0x08, {0xF8, 0x12, 0xFF, 0x12}, 0x04, 0x40},
        {"control bits already set stay", 0, 0x2F8, 8, 4, 0x9B, 0x08, {0xF8, 0x02, 0xFF, 0x02}, 0x9F, 0x40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        m.poke(0x07, c.control_before);
        m.poke(0x06, 0xE1); // both I/O windows on: only the called window's bit may drop
        EXPECT_EQ(NtPCIC_Enable_IO(1, c.window, c.first, c.count, c.flags, 0x3E0), 0);
        for (unsigned i = 0; i < 4; ++i)
            EXPECT_EQ(m.pcic.peek_register(static_cast<std::uint8_t>(c.block + i)), c.regs[i]) << i;
        EXPECT_EQ(m.pcic.peek_register(0x07), c.control_after);
        // The other window's block is untouched.
        const unsigned other = c.block == 0x08 ? 0x0C : 0x08;
        for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(m.pcic.peek_register(static_cast<std::uint8_t>(other + i)), 0);
        // The window's own enable bit went off, then on.
        std::vector<unsigned> enable_writes;
        for (const RegOp& op : m.ops())
            if (op.kind == RegOp::Write && op.index == 0x06) enable_writes.push_back(op.value);
        EXPECT_EQ(enable_writes, (std::vector<unsigned>{0xE1u & ~c.enable_bit, 0xE1}));
        EXPECT_EQ(m.kernel.stall_calls(), 160'000u);
    }
}

// ---- Interrupt steering ----

TEST(EnableIrq, ReplacesTheWholeRegister) {
    struct Case {
        ULONG irq, ignored;
        std::uint8_t before;
        unsigned value;
    };
    for (const Case c : {Case{3, 0, 0xFF, 0x63}, Case{3, 0x1234, 0x00, 0x63}, Case{0, 0, 0x9F, 0x60},
                         Case{19, 0, 0x40, 0x63}, Case{15, 0, 0x60, 0x6F}}) {
        SCOPED_TRACE(c.irq);
        Machine m;
        m.poke(0x83, c.before);
        EXPECT_EQ(NtPCIC_Enable_IRQ(3, c.ignored, c.irq, 0x3E0), 0);
        EXPECT_EQ(m.ops(), (std::vector<RegOp>{W(0x83, c.value), S(1000)}));
    }
}

} // namespace
} // namespace pcictest
