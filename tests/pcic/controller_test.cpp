// The socket controller model: its registers, the socket's electrical state
// in virtual time, memory and I/O window decoding and interrupt steering.
#include "pcic_support.hpp"

#include "modem/ntpcic.h"
#include "modem/pcicreg.h"

#include <functional>
#include <string>

namespace pcictest {
namespace {

constexpr std::uint64_t kMs = 1'000'000;

std::uint8_t idx(unsigned bank, unsigned reg) { return static_cast<std::uint8_t>(PCIC_INDEX(bank, reg)); }

// Powers the card of a bank, drives its outputs and releases its reset.
void run_card(Machine& m, unsigned bank, bool io_card = false) {
    m.poke(idx(bank, PCIC_POWER), 0x95);
    m.poke(idx(bank, PCIC_INTR), io_card ? 0x60 : 0x40);
}

// Programs memory window w of a bank over system pages start..stop (4 KB
// pages) with a card offset in pages, and enables it.
void mem_window(Machine& m, unsigned bank, unsigned w, unsigned start, unsigned stop, unsigned offset, bool attr) {
    const unsigned b = PCIC_MEM_WIN(w);
    m.poke(idx(bank, b + 0), static_cast<std::uint8_t>(start));
    m.poke(idx(bank, b + 1), static_cast<std::uint8_t>(start >> 8));
    m.poke(idx(bank, b + 2), static_cast<std::uint8_t>(stop));
    m.poke(idx(bank, b + 3), static_cast<std::uint8_t>(stop >> 8));
    m.poke(idx(bank, b + 4), static_cast<std::uint8_t>(offset));
    m.poke(idx(bank, b + 5), static_cast<std::uint8_t>(((offset >> 8) & 0x3F) | (attr ? 0x40 : 0)));
    m.poke(idx(bank, PCIC_WIN_ENABLE),
           static_cast<std::uint8_t>(m.pcic.peek_register(idx(bank, PCIC_WIN_ENABLE)) | (1u << w)));
}

void io_window(Machine& m, unsigned bank, unsigned w, unsigned first, unsigned last) {
    const unsigned b = PCIC_IO_WIN(w);
    m.poke(idx(bank, b + 0), static_cast<std::uint8_t>(first));
    m.poke(idx(bank, b + 1), static_cast<std::uint8_t>(first >> 8));
    m.poke(idx(bank, b + 2), static_cast<std::uint8_t>(last));
    m.poke(idx(bank, b + 3), static_cast<std::uint8_t>(last >> 8));
    m.poke(idx(bank, PCIC_WIN_ENABLE),
           static_cast<std::uint8_t>(m.pcic.peek_register(idx(bank, PCIC_WIN_ENABLE)) | (0x40u << w)));
}

// ---- Registers ----

TEST(ControllerRegisters, IndexPortReadsBackAndDataRegistersHoldWhatWasWritten) {
    Machine m(0x3E0, 0x83);
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card});
    for (unsigned i = 0; i < 256; ++i) {
        SCOPED_TRACE(i);
        const auto index = static_cast<std::uint8_t>(i);
        m.bus.out(0x3E0, index);
        EXPECT_EQ(m.bus.in(0x3E0), index);
        const auto before = m.bus.in(0x3E1);
        m.bus.out(0x3E1, static_cast<std::uint8_t>(i ^ 0x5A));
        const std::uint8_t now = m.bus.in(0x3E1);
        EXPECT_EQ(now, m.pcic.peek_register(index));
        switch (i % 0x40) {
        case 0x00: EXPECT_EQ(now, 0x83) << "identification of every bank, writes ignored"; break;
        case 0x01: EXPECT_EQ(now, before) << "Interface Status ignores writes"; break;
        default: EXPECT_EQ(now, i ^ 0x5A);
        }
    }
}

TEST(ControllerRegisters, PowerOnStateAndSocketlessBanks) {
    Machine m;
    m.pcic.add_socket({.bank = 0, .card = nullptr, .status_or = 0x80});
    for (unsigned i = 0; i < 256; ++i) {
        const unsigned r = i % 0x40;
        const std::uint8_t want = r == 0x00 ? 0x82 : (r == 0x01 && i == 0x01) ? 0x80 : 0x00;
        EXPECT_EQ(m.pcic.peek_register(static_cast<std::uint8_t>(i)), want) << i;
    }
    EXPECT_EQ(m.bus.in(0x3E2), 0xFF) << "the controller decodes only its two ports";
}

TEST(ControllerRegisters, TwoControllersOnOneBusAnswerOnlyTheirOwnPorts) {
    Machine m(0x3E0, 0x84);
    sim::Controller upper(0x3E4, 0x84, m.clock);
    m.bus.attach_ports(&upper);
    FakeCard card;
    upper.add_socket({.bank = 2, .card = &card});
    NtPCIC_Write_Reg(3, 0x06, 0x21, 0x3E4);
    NtPCIC_Write_Reg(3, 0x06, 0x40, 0x3E0);
    EXPECT_EQ(upper.peek_register(0x86), 0x21);
    EXPECT_EQ(m.pcic.peek_register(0x86), 0x40);
    EXPECT_EQ(NtPCIC_Read_Reg(3, 0x01, 0x3E4), 0x0F) << "socket of the upper pair: card in";
    EXPECT_EQ(NtPCIC_Read_Reg(3, 0x01, 0x3E0), 0x00) << "no socket behind the lower pair's bank 2";
}

// ---- Interface Status and the card's electrical state ----

TEST(InterfaceStatus, Variants) {
    struct Case {
        std::string name;
        bool card;
        std::uint8_t detect, status_or;
        bool power, ready;
        std::uint8_t want;
    };
    const std::vector<Case> cases = {
        {"card, both detects, off", true, 0x0C, 0x00, false, false, 0x0F},
        {"cd1 only", true, 0x04, 0x00, false, false, 0x07},
        {"cd2 only", true, 0x08, 0x00, false, false, 0x0B},
        {"powered, not running", true, 0x0C, 0x00, true, false, 0x4F},
        {"running and ready", true, 0x0C, 0x00, true, true, 0x6F},
        {"status_or on a card", true, 0x04, 0x90, false, false, 0x97},
        {"empty socket", false, 0x0C, 0x00, true, true, 0x00},
        {"empty socket with status_or", false, 0x0C, 0xF3, true, true, 0xF3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        FakeCard card;
        m.pcic.add_socket({.bank = 1, .card = c.card ? &card : nullptr, .detect = c.detect, .status_or = c.status_or});
        if (c.power) m.poke(idx(1, PCIC_POWER), c.ready ? 0x95 : 0x15);
        if (c.ready) m.poke(idx(1, PCIC_INTR), 0x40);
        EXPECT_EQ(m.pcic.peek_register(idx(1, PCIC_IF_STATUS)), c.want);
    }
}

// The card reports ready once it has run for ready_ns without a break; each
// of the three conditions, taken away, restarts the count.
TEST(CardState, ReadyNeedsAnUnbrokenRunOfReadyTime) {
    struct Break {
        std::string name;
        unsigned reg;
        std::uint8_t off, on;
    };
    for (const Break& b : {Break{"power", PCIC_POWER, 0x85, 0x95}, Break{"outputs", PCIC_POWER, 0x15, 0x95},
                           Break{"reset", PCIC_INTR, 0x00, 0x40}}) {
        SCOPED_TRACE(b.name);
        Machine m;
        FakeCard card;
        m.pcic.add_socket({.bank = 0, .card = &card, .ready_ns = 5 * kMs});
        auto ready = [&] { return (m.pcic.peek_register(PCIC_IF_STATUS) & PCIC_IF_STATUS_READY) != 0; };
        run_card(m, 0);
        m.clock.advance_ns(5 * kMs - 1);
        EXPECT_FALSE(ready());
        m.clock.advance_ns(1);
        EXPECT_TRUE(ready());
        m.poke(idx(0, b.reg), b.off);
        EXPECT_FALSE(ready());
        m.clock.advance_ns(10 * kMs);
        EXPECT_FALSE(ready()) << "time while stopped does not count";
        m.poke(idx(0, b.reg), b.on);
        m.clock.advance_ns(5 * kMs - 1);
        EXPECT_FALSE(ready()) << "the count restarted";
        m.poke(idx(0, b.reg), b.on); // rewriting the same value is no break
        m.clock.advance_ns(1);
        EXPECT_TRUE(ready());
    }
}

TEST(CardState, NeverReadyCardStaysNotReady) {
    Machine m;
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card, .ready_ns = std::nullopt});
    run_card(m, 0);
    m.clock.advance_ns(3600'000 * kMs);
    EXPECT_EQ(m.pcic.peek_register(PCIC_IF_STATUS), 0x4F);
}

TEST(CardState, CardHearsOnlyPowerChanges) {
    Machine m;
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card});
    for (std::uint8_t v : {0x15, 0x95, 0x95, 0x85, 0x00, 0x10})
        m.poke(PCIC_POWER, v);
    EXPECT_EQ(card.power_events, (std::vector<bool>{true, false, true}));
}

// ---- Memory windows ----

// The whole road: the driver powers the card and programs window 0 as the
// configuration sequence does; the ISA bus and the buffer MmMapIoSpace
// handed out before then show the card's attribute memory, and a write
// through the buffer reaches the card.
TEST(MemoryWindow, DriverProgrammedWindowShowsAttributeMemoryInTheMappedBuffer) {
    Machine m;
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card});
    PHYSICAL_ADDRESS at;
    at.QuadPart = 0xC8000;
    auto* window = static_cast<volatile std::uint8_t*>(MmMapIoSpace(at, 0x1000, MmNonCached));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window[0], 0xFF) << "nothing maps there yet";

    ASSERT_EQ(NtPCIC_Enable(1, 0x3E0), 0);
    ASSERT_EQ(NtPCIC_Enable_Memory(1, 0, 0xC8000, 0x1000, 0, 8, 0x3E0), 0);
    for (std::uint32_t a = 0; a < 0x1000; ++a) {
        ASSERT_EQ(window[a], FakeCard::attr_pattern(a)) << a;
        ASSERT_EQ(m.bus.mem_read(0xC8000 + a), FakeCard::attr_pattern(a)) << a;
    }
    EXPECT_EQ(m.bus.mem_read(0xC7FFF), 0xFF);
    EXPECT_EQ(m.bus.mem_read(0xC9000), 0xFF);

    window[0x3F8] = 0x51;
    NtPCIC_Read_Reg(1, 0, 0x3E0); // the next port operation takes the write to the card
    EXPECT_EQ(card.attr_writes, (std::vector<FakeCard::Write>{{0x3F8, 0x51}}));
    EXPECT_EQ(window[0x3F8], 0x51);

    // Power the socket off: the window still decodes but nothing answers.
    NtPCIC_Write_Reg(1, PCIC_POWER, 0x00, 0x3E0);
    EXPECT_EQ(window[0], 0xFF);
}

TEST(MemoryWindow, Decoding) {
    struct Win {
        unsigned w, start, stop, offset;
        bool attr;
    };
    struct Probe {
        std::uint32_t addr;
        std::optional<std::uint8_t> want; // nullopt: the controller does not decode it
    };
    struct Case {
        std::string name;
        std::vector<Win> windows;
        std::vector<Probe> probes;
    };
    const auto A = FakeCard::attr_pattern;
    const auto C = FakeCard::common_pattern;
    const std::vector<Case> cases = {
        {"attribute, offset to card 0",
         {{0, 0xD0, 0xD0, 0x3F30, true}},
         {{0xD0000, A(0)}, {0xD0ABC, A(0xABC)}, {0xCFFFF, std::nullopt}, {0xD1000, std::nullopt}}},
        {"common memory", {{0, 0xD0, 0xD0, 0x3F30, false}}, {{0xD0010, C(0x10)}}},
        {"start and stop pages inclusive",
         {{1, 0xD0, 0xD1, 0x3F30, true}},
         {{0xD1000, 0xFF /* card page 1: past the fake's 4 KB */}, {0xD1FFF, 0xFF}, {0xD2000, std::nullopt}}},
        {"offset wraps modulo 2^26", {{0, 0xFFF, 0xFFF, 0x3001, true}}, {{0xFFF123, A(0x123)}}},
        {"stop below start maps nothing", {{0, 0xD1, 0xD0, 0x3F30, true}}, {{0xD0000, std::nullopt}, {0xD1000, std::nullopt}}},
        {"lowest live window wins",
         {{3, 0xD0, 0xD0, 0x3F30, false}, {1, 0xD0, 0xD0, 0x3F30, true}},
         {{0xD0020, A(0x20)}}},
        {"address beyond the 24-bit space", {{0, 0x000, 0xFFF, 0x0000, true}}, {{0x1000000, std::nullopt}, {0x10, A(0x10)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        FakeCard card;
        m.pcic.add_socket({.bank = 0, .card = &card});
        run_card(m, 0);
        for (const Win& w : c.windows) mem_window(m, 0, w.w, w.start, w.stop, w.offset, w.attr);
        for (const Probe& p : c.probes) EXPECT_EQ(m.pcic.mem_read(p.addr), p.want) << std::hex << p.addr;
    }
}

TEST(MemoryWindow, DisabledOrDeadWindowsAndEmptySockets) {
    Machine m;
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card, .ready_ns = std::nullopt});
    m.pcic.add_socket({.bank = 1, .card = nullptr});
    mem_window(m, 0, 0, 0xD0, 0xD0, 0x3F30, true);
    mem_window(m, 1, 0, 0xE0, 0xE0, 0x3F20, true);
    mem_window(m, 2, 0, 0xD8, 0xD8, 0x3F28, true); // bank with no socket: decodes nothing

    EXPECT_EQ(m.pcic.mem_read(0xD0000), 0xFF) << "card not running";
    EXPECT_TRUE(m.pcic.mem_write(0xD0000, 0x12));
    run_card(m, 0);
    EXPECT_EQ(m.pcic.mem_read(0xD0000), FakeCard::attr_pattern(0)) << "running is enough; ready is not needed";
    EXPECT_TRUE(card.attr_writes.empty()) << "a write while not running went nowhere";
    EXPECT_EQ(m.pcic.mem_read(0xE0000), 0xFF) << "empty socket";
    EXPECT_EQ(m.pcic.mem_read(0xD8000), std::nullopt);
    EXPECT_FALSE(m.pcic.mem_write(0xD8000, 0x12));

    m.poke(idx(0, PCIC_WIN_ENABLE), 0x20); // window 0 off, full decode left on
    EXPECT_EQ(m.pcic.mem_read(0xD0000), std::nullopt);
}

// The kernel refreshes its copy of the window only when memory_version
// moves, so it must move for everything that can change a read.
TEST(MemoryWindow, VersionMovesWithEveryChangeThatCanAlterReads) {
    Machine m;
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card});
    run_card(m, 0);
    mem_window(m, 0, 0, 0xD0, 0xD0, 0x3F30, true);
    struct Step {
        std::string name;
        std::function<void()> act;
    };
    const std::vector<Step> steps = {
        {"window register write", [&] { m.poke(PCIC_MEM_WIN(0) + PCIC_MEM_OFFSET_LOW, 0x31); }},
        {"enable register write", [&] { m.poke(PCIC_WIN_ENABLE, 0x01); }},
        {"power off", [&] { m.poke(PCIC_POWER, 0x00); }},
        {"power on", [&] { m.poke(PCIC_POWER, 0x95); }},
        {"reset asserted", [&] { m.poke(PCIC_INTR, 0x00); }},
        {"reset released", [&] { m.poke(PCIC_INTR, 0x40); }},
        {"write through the window", [&] { m.pcic.mem_write(0xD0002, 0x77); }},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const std::uint64_t before = m.pcic.memory_version();
        s.act();
        EXPECT_NE(m.pcic.memory_version(), before);
    }
}

// ---- I/O windows ----

TEST(IoWindow, PassesCyclesOnlyWhileLiveAndTheCardRunsAsAnIoCard) {
    struct Case {
        std::string name;
        unsigned window;
        bool io_card, running;
        std::uint16_t port;
        std::uint8_t want; // what the ISA bus reads
        bool reaches_card;
    };
    const std::vector<Case> cases = {
        {"window 0 first port", 0, true, true, 0x2F8, 0xA0, true},
        {"window 0 last port", 0, true, true, 0x2FF, 0xA7, true},
        {"window 1", 1, true, true, 0x2FB, 0xA3, true},
        {"below the window", 0, true, true, 0x2F7, 0xFF, false},
        {"above the window", 0, true, true, 0x300, 0xFF, false},
        {"memory card interface", 0, false, true, 0x2F8, 0xFF, false},
        {"card not running", 0, true, false, 0x2F8, 0xFF, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        FakeCard card;
        m.pcic.add_socket({.bank = 1, .card = &card});
        io_window(m, 1, c.window, 0x2F8, 0x2FF);
        if (c.running) run_card(m, 1, c.io_card);
        EXPECT_EQ(m.bus.in(c.port), c.want);
        m.bus.out(c.port, 0x42);
        EXPECT_EQ(!card.io_reads.empty(), c.reaches_card);
        EXPECT_EQ(!card.io_writes.empty(), c.reaches_card);
    }
}

TEST(IoWindow, DisabledWindowPassesNothing) {
    Machine m;
    FakeCard card;
    m.pcic.add_socket({.bank = 0, .card = &card});
    run_card(m, 0, true);
    io_window(m, 0, 0, 0x2F8, 0x2FF);
    m.poke(PCIC_WIN_ENABLE, 0x80); // window 0 off, window 1 (never programmed) on
    EXPECT_EQ(m.bus.in(0x2F8), 0xFF);
    EXPECT_TRUE(card.io_reads.empty());
}

// ---- Interrupt steering ----

TEST(IrqSteering, LevelWhileTheCardRequestsIt) {
    struct Case {
        std::string name;
        std::uint8_t intr;
        bool pending, running;
        int want;
    };
    const std::vector<Case> cases = {
        {"steered to 3", 0x63, true, true, 3},
        {"steered to 15", 0x6F, true, true, 15},
        {"not requested", 0x63, false, true, 0},
        {"no steering", 0x60, true, true, 0},
        {"memory card interface", 0x43, true, true, 0},
        {"card not running", 0x63, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        FakeCard card;
        m.pcic.add_socket({.bank = 2, .card = &card});
        m.poke(idx(2, PCIC_POWER), c.running ? 0x95 : 0x15);
        m.poke(idx(2, PCIC_INTR), c.intr);
        card.irq = c.pending;
        EXPECT_EQ(m.pcic.irq_level(), c.want);
        EXPECT_EQ(m.bus.lowest_asserted_irq(), c.want);
    }
}

} // namespace
} // namespace pcictest
