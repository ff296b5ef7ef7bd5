#include "sim/card/uart16550.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

using namespace sim::uart;

// A serial line that records what the UART sends and offers queued bytes.
struct FakeLine : sim::SerialLine {
    void receive(std::uint8_t c) override { sent.push_back(c); }
    std::optional<std::uint8_t> transmit() override {
        if (waiting.empty()) return std::nullopt;
        std::uint8_t c = waiting.front();
        waiting.pop_front();
        return c;
    }
    std::vector<std::uint8_t> sent;
    std::deque<std::uint8_t> waiting;
};

class Uart : public testing::Test {
protected:
    // Offers bytes from the line and lets the UART take them, as it does
    // after any register access.
    void offer(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) line.waiting.push_back(static_cast<std::uint8_t>('a' + i % 26));
        uart.write(kMcr, uart.mcr());
    }
    std::uint8_t iir_id() { return uart.read(kIir) & 0x0F; }

    FakeLine line;
    sim::Uart16550 uart{line};
};

struct Reset {
    std::uint8_t reg;
    std::uint8_t value;
};

TEST_F(Uart, RegistersReadTheirResetValues) {
    const Reset table[] = {{kIer, 0x00}, {kIir, kIirNone}, {kLcr, 0x00}, {kMcr, 0x00},
                           {kLsr, kLsrThre | kLsrTemt}, {kMsr, kMsrCts | kMsrDsr}, {kScr, 0x00}};
    for (const Reset& r : table) EXPECT_EQ(uart.read(r.reg), r.value) << "register " << int(r.reg);
    EXPECT_FALSE(uart.intr());
}

TEST_F(Uart, ReadWriteRegistersKeepWhatWasWritten) {
    struct Case {
        std::uint8_t reg, written, read;
    };
    const Case table[] = {{kScr, 0x55, 0x55}, {kScr, 0xAA, 0xAA}, {kScr, 0x00, 0x00},
                          {kLcr, 0x1B, 0x1B}, {kIer, 0xFF, 0x0F}, {kMcr, 0xFF, 0x1F},
                          {kMcr, 0x0B, 0x0B}};
    for (const Case& c : table) {
        uart.write(c.reg, c.written);
        EXPECT_EQ(uart.read(c.reg), c.read) << "register " << int(c.reg) << " written " << int(c.written);
    }
}

TEST_F(Uart, StatusRegistersIgnoreWrites) {
    uart.write(kLsr, 0x00);
    uart.write(kMsr, 0x00);
    EXPECT_EQ(uart.read(kLsr), kLsrThre | kLsrTemt);
    EXPECT_EQ(uart.read(kMsr), kMsrCts | kMsrDsr);
}

TEST_F(Uart, DivisorLatchSharesPortsWithRbrThrAndIer) {
    uart.write(kIer, kIerRda);
    uart.write(kLcr, kLcrDlab | 0x03);
    uart.write(kDll, 0x0C);
    uart.write(kDlm, 0x01);
    EXPECT_EQ(uart.read(kDll), 0x0C);
    EXPECT_EQ(uart.read(kDlm), 0x01);
    EXPECT_EQ(uart.divisor(), 0x010C);
    EXPECT_TRUE(line.sent.empty()); // the DLL write was not a character
    EXPECT_EQ(uart.ier(), kIerRda);

    uart.write(kLcr, 0x03);
    EXPECT_EQ(uart.read(kIer), kIerRda);
    uart.write(kThr, 'x');
    EXPECT_EQ(line.sent, std::vector<std::uint8_t>{'x'});
    EXPECT_EQ(uart.divisor(), 0x010C);
}

TEST_F(Uart, TransmittedCharactersLeaveAtOnce) {
    for (char c : std::string("AT\r")) {
        uart.write(kThr, static_cast<std::uint8_t>(c));
        EXPECT_EQ(uart.read(kLsr) & (kLsrThre | kLsrTemt), kLsrThre | kLsrTemt);
    }
    EXPECT_EQ(line.sent, (std::vector<std::uint8_t>{'A', 'T', '\r'}));
}

TEST_F(Uart, ReceiverHoldsOneCharacterWithoutFifoAndSixteenWithIt) {
    offer(20);
    EXPECT_EQ(uart.rx_count(), 1u);
    EXPECT_EQ(uart.read(kLsr) & kLsrDr, kLsrDr);

    uart.write(kFcr, kFcrEnable); // switching the FIFOs on empties them
    EXPECT_EQ(uart.rx_count(), kFifoSize);
    std::string got;
    while (uart.read(kLsr) & kLsrDr) got.push_back(static_cast<char>(uart.read(kRbr)));
    EXPECT_EQ(got, std::string("bcdefghijklmnopqrst"));
    EXPECT_EQ(uart.read(kLsr) & kLsrOe, 0); // the line never overruns the receiver
}

TEST_F(Uart, EmptyReceiverRepeatsLastCharacter) {
    offer(1);
    EXPECT_EQ(uart.read(kRbr), 'a');
    EXPECT_EQ(uart.read(kLsr) & kLsrDr, 0);
    EXPECT_EQ(uart.read(kRbr), 'a');
}

TEST_F(Uart, FifoControl) {
    EXPECT_EQ(uart.read(kIir) & kIirFifos, 0);
    uart.write(kFcr, kFcrEnable);
    EXPECT_EQ(uart.read(kIir) & kIirFifos, kIirFifos);
    EXPECT_TRUE(uart.fifo_enabled());

    offer(5);
    uart.write(kFcr, kFcrEnable | kFcrClearRx);
    EXPECT_EQ(uart.rx_count(), 0u);

    // Without the enable bit the other bits are not taken, and the FIFOs go.
    uart.write(kFcr, kFcrClearRx | 0xC0);
    EXPECT_FALSE(uart.fifo_enabled());
    EXPECT_EQ(uart.read(kIir) & kIirFifos, 0);
}

TEST_F(Uart, ReceiveTriggerLevelSeparatesDataAvailableFromTimeout) {
    struct Case {
        std::uint8_t trigger_bits;
        std::size_t bytes;
        std::uint8_t id;
    };
    const Case table[] = {{0x00, 1, kIirRda},     {0x40, 3, kIirTimeout}, {0x40, 4, kIirRda},
                          {0x80, 7, kIirTimeout}, {0x80, 8, kIirRda},     {0xC0, 13, kIirTimeout},
                          {0xC0, 14, kIirRda},    {0xC0, 0, kIirNone}};
    for (const Case& c : table) {
        FakeLine l;
        sim::Uart16550 u{l};
        u.write(kFcr, static_cast<std::uint8_t>(kFcrEnable | c.trigger_bits));
        u.write(kIer, kIerRda);
        for (std::size_t i = 0; i < c.bytes; ++i) l.waiting.push_back('x');
        u.write(kMcr, 0);
        EXPECT_EQ(u.read(kIir), kIirFifos | c.id) << "trigger " << int(c.trigger_bits) << ", " << c.bytes << " bytes";
    }
}

TEST_F(Uart, ReceivedDataInterruptLastsWhileDataWaits) {
    uart.write(kIer, kIerRda);
    EXPECT_FALSE(uart.intr());
    offer(2);
    EXPECT_EQ(iir_id(), kIirRda);
    uart.read(kRbr);
    EXPECT_EQ(iir_id(), kIirRda); // the second byte moved in
    uart.read(kRbr);
    EXPECT_EQ(iir_id(), kIirNone);
}

TEST_F(Uart, ThreInterruptRaisedOnEnableAndClearedByIirRead) {
    uart.write(kIer, kIerThre);
    EXPECT_TRUE(uart.intr());
    EXPECT_EQ(iir_id(), kIirThre);
    EXPECT_FALSE(uart.intr());
    EXPECT_EQ(iir_id(), kIirNone);

    // Enabling again while already enabled is no new event; off and on is.
    uart.write(kIer, kIerThre);
    EXPECT_FALSE(uart.intr());
    uart.write(kIer, 0);
    uart.write(kIer, kIerThre);
    EXPECT_EQ(iir_id(), kIirThre);
}

TEST_F(Uart, ThreInterruptReturnsAfterEachWrite) {
    uart.write(kIer, kIerThre);
    EXPECT_EQ(iir_id(), kIirThre);
    uart.write(kThr, 'x'); // clears it, and the THR empties again at once
    EXPECT_EQ(iir_id(), kIirThre);
    EXPECT_EQ(iir_id(), kIirNone);
}

TEST_F(Uart, ThreInterruptGoesWithEnableBit) {
    uart.write(kIer, kIerThre);
    uart.write(kIer, 0);
    EXPECT_FALSE(uart.intr());
    uart.write(kThr, 'x');
    EXPECT_FALSE(uart.intr());
}

TEST_F(Uart, Out2GatesTheInterruptLine) {
    struct Case {
        std::uint8_t mcr;
        bool line;
    };
    const Case table[] = {{0x00, false},
                          {kMcrDtr | kMcrRts, false},
                          {kMcrOut1, false},
                          {kMcrOut2, true},
                          {kMcrDtr | kMcrRts | kMcrOut2, true},
                          {kMcrOut2 | kMcrLoop, false}};
    for (const Case& c : table) {
        FakeLine l;
        sim::Uart16550 u{l};
        u.write(kMcr, c.mcr);
        EXPECT_FALSE(u.irq_output());
        u.write(kIer, kIerThre);
        EXPECT_TRUE(u.intr());
        EXPECT_EQ(u.irq_output(), c.line) << "MCR " << int(c.mcr);
    }
}

TEST_F(Uart, LoopbackReturnsCharactersAndMirrorsModemControl) {
    uart.write(kFcr, kFcrEnable);
    uart.write(kMcr, kMcrLoop);
    offer(3); // held back by the modem while the UART is looped
    EXPECT_EQ(uart.rx_count(), 0u);
    uart.write(kThr, 'L');
    EXPECT_TRUE(line.sent.empty());
    EXPECT_EQ(uart.read(kRbr), 'L');
    EXPECT_EQ(uart.read(kLsr) & kLsrDr, 0);

    struct Case {
        std::uint8_t mcr, lines;
    };
    const Case table[] = {{kMcrRts, kMsrCts}, {kMcrDtr, kMsrDsr}, {kMcrOut1, kMsrRi},
                          {kMcrOut2, kMsrDcd}, {0x0F, 0xF0}, {0x00, 0x00}};
    for (const Case& c : table) {
        uart.write(kMcr, static_cast<std::uint8_t>(kMcrLoop | c.mcr));
        EXPECT_EQ(uart.read(kMsr) & 0xF0, c.lines) << "MCR " << int(c.mcr);
    }

    uart.write(kMcr, 0);
    EXPECT_EQ(uart.rx_count(), 3u); // the line's bytes arrive once the loop is off
}

TEST_F(Uart, ModemStatusDeltasAndInterrupt) {
    uart.write(kIer, kIerMs);
    uart.write(kMcr, kMcrLoop | kMcrRts | kMcrOut1);
    // Leaving the modem's CTS/DSR for the loop's: DSR dropped, CTS stayed.
    EXPECT_EQ(iir_id(), kIirMs);
    EXPECT_EQ(uart.read(kMsr), kMsrDdsr | kMsrCts | kMsrRi);
    EXPECT_EQ(iir_id(), kIirNone);
    uart.write(kMcr, kMcrLoop | kMcrRts); // RI falls: trailing edge
    EXPECT_EQ(uart.read(kMsr), kMsrTeri | kMsrCts);
    uart.write(kMcr, kMcrLoop | kMcrOut2); // CTS falls, DCD rises
    EXPECT_EQ(uart.read(kMsr), kMsrDcts | kMsrDdcd | kMsrDcd);
    EXPECT_EQ(uart.read(kMsr), kMsrDcd);
}

TEST_F(Uart, OverrunAndInterruptPriority) {
    uart.write(kMcr, kMcrLoop);
    uart.write(kIer, kIerRda | kIerThre | kIerRls | kIerMs);
    uart.write(kThr, '1');
    uart.write(kThr, '2'); // no FIFO: overwrites the unread '1'
    EXPECT_EQ(iir_id(), kIirRls);
    EXPECT_EQ(uart.read(kLsr), kLsrDr | kLsrOe | kLsrThre | kLsrTemt);
    EXPECT_EQ(uart.read(kLsr) & kLsrOe, 0);
    EXPECT_EQ(iir_id(), kIirRda);
    EXPECT_EQ(uart.read(kRbr), '2');
    EXPECT_EQ(iir_id(), kIirThre);
    EXPECT_EQ(iir_id(), kIirMs);
    uart.read(kMsr);
    EXPECT_EQ(iir_id(), kIirNone);

    // A full FIFO keeps its sixteen and loses the seventeenth.
    uart.write(kFcr, kFcrEnable);
    for (int i = 0; i < 17; ++i) uart.write(kThr, static_cast<std::uint8_t>('a' + i));
    EXPECT_EQ(uart.read(kLsr) & kLsrOe, kLsrOe);
    std::string got;
    while (uart.read(kLsr) & kLsrDr) got.push_back(static_cast<char>(uart.read(kRbr)));
    EXPECT_EQ(got, "abcdefghijklmnop");
}

TEST_F(Uart, ResetReturnsToPowerOnState) {
    uart.write(kLcr, kLcrDlab);
    uart.write(kDll, 1);
    uart.write(kLcr, 0x03);
    uart.write(kIer, 0x0F);
    uart.write(kMcr, 0x0B);
    uart.write(kScr, 0x5A);
    uart.write(kFcr, kFcrEnable);
    uart.reset();
    EXPECT_EQ(uart.read(kIer), 0);
    EXPECT_EQ(uart.read(kIir), kIirNone);
    EXPECT_EQ(uart.read(kLcr), 0);
    EXPECT_EQ(uart.read(kMcr), 0);
    EXPECT_EQ(uart.read(kScr), 0);
    EXPECT_EQ(uart.divisor(), 0);
    EXPECT_FALSE(uart.fifo_enabled());
}

} // namespace
