// The card alone: attribute memory, the COR, I/O mode and the UART behind
// it, power, and CIS images that are not what a card should carry.
#include "sim/card/hayes.hpp"
#include "sim/card/modem_card.hpp"
#include "sim/card/uart16550.hpp"
#include "sim/hw/cis_builder.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using sim::CisBuilder;
using Bytes = CisBuilder::Bytes;
namespace uart = sim::uart;

// A small CIS with the COR at 0x200 and one entry in each layout.
Bytes small_cis() {
    return CisBuilder()
        .tuple(0x01, {0x00, 0x00, 0xFF})
        .tuple(0x1A, CisBuilder::config(0x200, 0x13))
        .tuple(0x1B, {0x11, 0x08, 0xEA, 0x60, 0xF8, 0x02, 0x07})
        // 0xBD layout: base at the ninth-last and eighth-last of 12 body bytes
        .tuple(0x1B, {0xD3, 0x01, 0xBD, 0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0})
        .end()
        .packed();
}

TEST(CardMemory, AttributeLayout) {
    const Bytes cis = small_cis();
    sim::ModemCard card(cis, 0x5A);
    const std::uint32_t end = static_cast<std::uint32_t>(2 * cis.size());
    struct Case {
        std::uint32_t addr;
        std::uint8_t value;
    };
    const Case table[] = {
        {0x000, 0x01},        {0x001, 0x5A},        {0x002, 0x03},     {end - 2, 0xFF}, // the END code
        {end, 0xFF},          {end + 1, 0x5A},      {0xFFE, 0xFF},     {0xFFF, 0x5A},
        {0x1000, 0xFF},       {0x1001, 0xFF},       {0x2000, 0xFF},    {0x3FFFFFF, 0xFF},
        {0x4000000, 0x01}, // only 26 address lines: wraps to 0
        {0x200, 0x00},     // the COR, cleared
    };
    for (const Case& c : table) EXPECT_EQ(card.attr_read(c.addr), c.value) << std::hex << c.addr;
}

TEST(CardMemory, OnlyTheFirstFourKilobytesHoldTheCis) {
    Bytes big(3000);
    for (std::size_t k = 0; k < big.size(); ++k) big[k] = static_cast<std::uint8_t>(k * 7 + 1);
    sim::ModemCard card(big, 0xFF);
    EXPECT_EQ(card.attr_read(0xFFE), big[2047]);
    EXPECT_EQ(card.attr_read(0x1000), 0xFF);
    EXPECT_EQ(card.attr_read(0x1002), 0xFF);
}

TEST(CardMemory, OnlyTheCorIsWritableAndCommonMemoryIsAbsent) {
    sim::ModemCard card(small_cis(), 0xFF);
    for (std::uint32_t a : {0x000u, 0x001u, 0x1FEu, 0x201u, 0x202u, 0x1200u}) {
        const std::uint8_t before = card.attr_read(a);
        card.attr_write(a, 0x11);
        EXPECT_EQ(card.attr_read(a), before) << std::hex << a;
    }
    EXPECT_FALSE(card.io_mode());
    for (std::uint32_t a : {0x000u, 0x200u, 0x3F8u, 0x3FFFFFFu}) {
        card.common_write(a, 0x00);
        EXPECT_EQ(card.common_read(a), 0xFF);
    }
}

TEST(CardMemory, CorReadsBackWhatWasWritten) {
    sim::ModemCard card(small_cis(), 0xFF);
    for (std::uint8_t v : {0x00, 0x01, 0x3F, 0x40, 0x51, 0x7F, 0x12}) {
        card.attr_write(0x200, v);
        EXPECT_EQ(card.attr_read(0x200), v);
        EXPECT_EQ(card.cor(), v);
    }
}

TEST(CardConfiguration, CorIndexSelectsTheIoBase) {
    struct Case {
        std::uint8_t cor;
        std::optional<std::uint16_t> base;
    };
    const Case table[] = {
        {0x11, 0x2F8}, {0x51, 0x2F8}, // only the index field counts
        {0x13, 0x3E8}, {0x53, 0x3E8},
        {0x12, std::nullopt}, {0x00, std::nullopt}, {0x40, std::nullopt}, {0x3F, std::nullopt},
        {0x71, std::nullopt}, // index 0x31
    };
    for (const Case& c : table) {
        sim::ModemCard card(small_cis(), 0xFF);
        card.attr_write(0x200, c.cor);
        EXPECT_EQ(card.io_base(), c.base) << std::hex << int(c.cor);
        EXPECT_EQ(card.io_mode(), c.base.has_value());
    }
}

TEST(CardConfiguration, AnotherIndexLeavesIoMode) {
    sim::ModemCard card(small_cis(), 0xFF);
    card.attr_write(0x200, 0x51);
    card.attr_write(0x200, 0x53);
    EXPECT_EQ(card.io_base(), 0x3E8);
    card.attr_write(0x200, 0x52);
    EXPECT_FALSE(card.io_mode());
}

TEST(CardConfiguration, IndexZeroNeverSelectsIo) {
    const Bytes cis = CisBuilder()
                          .tuple(0x1A, CisBuilder::config(0x200, 0x00))
                          .tuple(0x1B, {0x40, 0x08, 0xEA, 0x60, 0xF8, 0x03, 0x07})
                          .end()
                          .packed();
    sim::ModemCard card(cis, 0xFF);
    card.attr_write(0x200, 0x00);
    EXPECT_FALSE(card.io_mode());
}

TEST(CardConfiguration, SoftResetReturnsToMemoryModeAndResetsTheUart) {
    sim::ModemCard card(small_cis(), 0xFF);
    card.attr_write(0x200, 0x51);
    ASSERT_TRUE(card.io_write(0x2F8 + uart::kScr, 0xA5));
    card.attr_write(0x200, 0x80 | 0x51);
    EXPECT_FALSE(card.io_mode());
    EXPECT_EQ(card.cor(), 0x80);
    EXPECT_FALSE(card.io_read(0x2F8).has_value());

    card.attr_write(0x200, 0x51);
    EXPECT_EQ(card.io_base(), 0x2F8);
    EXPECT_EQ(card.io_read(0x2F8 + uart::kScr), 0x00);
}

TEST(CardConfiguration, PowerOffClearsCorAndResetsTheModem) {
    sim::ModemCard card(small_cis(), 0xFF);
    card.set_power(true);
    card.attr_write(0x200, 0x51);
    for (char c : std::string("ATE0\r")) card.io_write(0x2F8, static_cast<std::uint8_t>(c));
    card.io_write(0x2F8 + uart::kIer, uart::kIerThre);
    card.io_write(0x2F8 + uart::kMcr, uart::kMcrOut2);
    ASSERT_TRUE(card.irq_pending());
    ASSERT_FALSE(card.modem().echo());

    card.set_power(false);
    EXPECT_EQ(card.cor(), 0x00);
    EXPECT_EQ(card.attr_read(0x200), 0x00);
    EXPECT_FALSE(card.io_mode());
    EXPECT_FALSE(card.irq_pending());
    EXPECT_TRUE(card.modem().echo());
    EXPECT_EQ(card.uart().ier(), 0);
    EXPECT_EQ(card.uart().rx_count(), 0u);

    card.set_power(true);
    EXPECT_FALSE(card.io_mode());
}

TEST(CardIo, UartAnswersOnlyInsideItsEightPortsInIoMode) {
    sim::ModemCard card(small_cis(), 0xFF);
    EXPECT_FALSE(card.io_read(0x2F8));
    EXPECT_FALSE(card.io_write(0x2F8 + uart::kScr, 1));
    card.attr_write(0x200, 0x51);
    struct Case {
        std::uint16_t port;
        bool decoded;
    };
    const Case table[] = {{0x2F7, false}, {0x2F8, true}, {0x2FF, true}, {0x300, false},
                          {0x3F8, false}, {0x0000, false}, {0xFFFF, false}};
    for (const Case& c : table) {
        EXPECT_EQ(card.io_read(c.port).has_value(), c.decoded) << std::hex << c.port;
        EXPECT_EQ(card.io_write(c.port, 0), c.decoded) << std::hex << c.port;
    }
    card.io_write(0x2F8 + uart::kScr, 0x3C);
    EXPECT_EQ(card.io_read(0x2F8 + uart::kScr), 0x3C);
}

TEST(CardIo, InterruptPinFollowsTheUartGatedByOut2) {
    sim::ModemCard card(small_cis(), 0xFF);
    card.attr_write(0x200, 0x51);
    card.io_write(0x2F8 + uart::kIer, uart::kIerThre);
    EXPECT_FALSE(card.irq_pending()); // OUT2 still off
    card.io_write(0x2F8 + uart::kMcr, uart::kMcrOut2 | uart::kMcrDtr | uart::kMcrRts);
    EXPECT_TRUE(card.irq_pending());
    EXPECT_EQ(card.io_read(0x2F8 + uart::kIir), uart::kIirThre);
    EXPECT_FALSE(card.irq_pending());
}

std::string converse(sim::ModemCard& card, std::uint16_t base, const std::string& text) {
    for (char c : text) card.io_write(base + uart::kThr, static_cast<std::uint8_t>(c));
    std::string answer;
    while (*card.io_read(base + uart::kLsr) & uart::kLsrDr)
        answer.push_back(static_cast<char>(*card.io_read(base + uart::kRbr)));
    return answer;
}

TEST(CardIo, ModemAnswersThroughTheUart) {
    sim::ModemCard card(sim::ModemCard::builtin_cis(), 0xFF);
    card.set_power(true);
    card.attr_write(0x3F8, 0x51);
    ASSERT_EQ(card.io_base(), 0x2F8);
    EXPECT_EQ(converse(card, 0x2F8, "AT\r"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(converse(card, 0x2F8, "ATE0\r"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(converse(card, 0x2F8, "ATI\r"), "\r\nNuvalt ThinPocket Modem\r\n\r\nOK\r\n");

    // With the FIFOs on and the received-data interrupt enabled, an answer
    // raises the line.
    card.io_write(0x2F8 + uart::kFcr, uart::kFcrEnable | uart::kFcrClearRx);
    card.io_write(0x2F8 + uart::kIer, uart::kIerRda);
    card.io_write(0x2F8 + uart::kMcr, uart::kMcrOut2);
    EXPECT_FALSE(card.irq_pending());
    for (char c : std::string("AT\r")) card.io_write(0x2F8, static_cast<std::uint8_t>(c));
    EXPECT_TRUE(card.irq_pending());
    EXPECT_EQ(converse(card, 0x2F8, ""), "\r\nOK\r\n");
    EXPECT_FALSE(card.irq_pending());
}

struct Hostile {
    const char* name;
    Bytes cis;
    std::optional<std::uint32_t> cor;
    std::optional<std::uint16_t> base_for_0x11;
};

class HostileCis : public testing::TestWithParam<Hostile> {};

TEST_P(HostileCis, ReadsOnlyWhatIsThereAndNeverFails) {
    const Hostile& h = GetParam();
    sim::ModemCard card(h.cis, 0x00);
    EXPECT_EQ(card.cor_address(), h.cor);
    for (std::uint32_t a = 0; a < 0x1010; ++a) card.attr_read(a);
    if (h.cor) card.attr_write(*h.cor, 0x51);
    EXPECT_EQ(card.io_base(), h.base_for_0x11);
}

const Bytes kEaEntry{0x11, 0x08, 0xEA, 0x60, 0xF8, 0x02, 0x07};

INSTANTIATE_TEST_SUITE_P(
    Images, HostileCis,
    testing::Values(
        Hostile{"Empty", {}, std::nullopt, std::nullopt},
        Hostile{"EndOnly", {0xFF}, std::nullopt, std::nullopt},
        Hostile{"CodeWithoutLink", {0x1A}, std::nullopt, std::nullopt},
        Hostile{"BodyCutOff", {0x1A, 0x05, 0x01, 0x17, 0x00}, std::nullopt, std::nullopt},
        Hostile{"NoConfig", CisBuilder().tuple(0x1B, kEaEntry).end().packed(), std::nullopt, std::nullopt},
        Hostile{"LinkFFEndsChain",
                CisBuilder().tuple_with_link(0x15, 0xFF, {}).tuple(0x1A, CisBuilder::config(0x200, 1)).packed(),
                std::nullopt, std::nullopt},
        Hostile{"EntryAfterCutOffTuple",
                CisBuilder().tuple(0x1A, CisBuilder::config(0x200, 1)).tuple_with_link(0x1B, 40, kEaEntry).packed(),
                0x200, std::nullopt},
        Hostile{"ConfigTooShortForItsAddress", CisBuilder().tuple(0x1A, {0x03, 0x01, 0x00, 0x40}).end().packed(),
                std::nullopt, std::nullopt},
        Hostile{"FourByteAddress",
                CisBuilder().tuple(0x1A, {0x03, 0x11, 0x00, 0x40, 0x00, 0x00, 0x01}).tuple(0x1B, kEaEntry).end().packed(),
                0x4000, 0x2F8},
        Hostile{"OneByteAddress", CisBuilder().tuple(0x1A, {0x00, 0x11, 0x80, 0x01}).tuple(0x1B, kEaEntry).end().packed(),
                0x80, 0x2F8},
        Hostile{"AddressBeyondCard",
                CisBuilder().tuple(0x1A, {0x03, 0x11, 0x00, 0x00, 0x00, 0x04, 0x01}).tuple(0x1B, kEaEntry).end().packed(),
                std::nullopt, std::nullopt},
        Hostile{"SecondConfigIgnored",
                CisBuilder().tuple(0x1A, CisBuilder::config(0x200, 1)).tuple(0x1A, CisBuilder::config(0x300, 1))
                    .tuple(0x1B, kEaEntry).end().packed(),
                0x200, 0x2F8},
        Hostile{"NullTuplesAreOneByte",
                CisBuilder().raw({0x00, 0x00, 0x00}).tuple(0x1A, CisBuilder::config(0x200, 1)).tuple(0x1B, kEaEntry)
                    .end().packed(),
                0x200, 0x2F8},
        Hostile{"CorInsideTheCis", CisBuilder().tuple(0x1A, CisBuilder::config(0x002, 1)).tuple(0x1B, kEaEntry).end().packed(),
                0x002, 0x2F8},
        Hostile{"ShortEaEntry",
                CisBuilder().tuple(0x1A, CisBuilder::config(0x200, 1)).tuple(0x1B, {0x11, 0x08, 0xEA, 0x60, 0xF8}).end().packed(),
                0x200, std::nullopt},
        Hostile{"ShortBdEntry",
                CisBuilder().tuple(0x1A, CisBuilder::config(0x200, 1))
                    .tuple(0x1B, {0x11, 0x01, 0xBD, 0xF8, 0x02, 0, 0, 0}).end().packed(),
                0x200, std::nullopt},
        Hostile{"BdEntryOfNineTakesBytesZeroAndOne",
                CisBuilder().tuple(0x1A, CisBuilder::config(0x200, 1))
                    .tuple(0x1B, {0x11, 0xF8, 0xBD, 0x02, 0, 0, 0, 0, 0}).end().packed(),
                0x200, 0xF811},
        Hostile{"OtherLayoutByte",
                CisBuilder().tuple(0x1A, CisBuilder::config(0x200, 1))
                    .tuple(0x1B, {0x11, 0x08, 0xEB, 0x60, 0xF8, 0x02, 0x07}).end().packed(),
                0x200, std::nullopt},
        Hostile{"FirstEntryOfAnIndexWins",
                CisBuilder().tuple(0x1A, CisBuilder::config(0x200, 1)).tuple(0x1B, kEaEntry)
                    .tuple(0x1B, {0x11, 0x08, 0xEA, 0x60, 0xF8, 0x03, 0x07}).end().packed(),
                0x200, 0x2F8},
        Hostile{"AllNull", Bytes(5000, 0x00), std::nullopt, std::nullopt},
        Hostile{"AllOnes", Bytes(5000, 0xFF), std::nullopt, std::nullopt}),
    [](const testing::TestParamInfo<Hostile>& info) { return info.param.name; });

TEST(HostileCisFuzz, RandomImagesNeverFail) {
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        Bytes cis(rng() % 2100);
        for (auto& b : cis) {
            // Mostly the codes and small links that make long chains.
            const unsigned r = rng() % 8;
            b = r < 2 ? 0x1A : r < 4 ? 0x1B : r < 6 ? static_cast<std::uint8_t>(rng() % 12)
                                                    : static_cast<std::uint8_t>(rng());
        }
        sim::ModemCard card(cis, static_cast<std::uint8_t>(rng()));
        for (std::uint32_t a = 0; a < 0x1000; a += 2) card.attr_read(a);
        const auto cor = card.cor_address();
        if (!cor) continue;
        for (unsigned v = 0; v < 0x40; ++v) {
            card.attr_write(*cor, static_cast<std::uint8_t>(v | 0x40));
            if (auto base = card.io_base()) {
                EXPECT_TRUE(card.io_read(*base).has_value());
            }
        }
    }
}

} // namespace
