// The built-in card image: the committed file is the generator's output, and
// the card answers a reader that walks its CIS the way the driver does.
#include "sim/card/modem_card.hpp"
#include "sim/card/nuvalt_cis.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

std::vector<std::uint8_t> read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(BuiltinCis, CommittedFileIsTheGeneratorsOutput) {
    const auto generated = sim::nuvalt_thinpocket_cis();
    EXPECT_EQ(read_file(KIT_CARD_IMAGE), generated)
        << "regenerate with: make_nuvalt_cis cards/nuvalt-thinpocket.cis";
    EXPECT_EQ(sim::ModemCard::builtin_cis(), generated);
}

// The driver's view: every tuple has a link byte, the chain starts at
// attribute address 0 and ends at code 0xFF or link 0xFF; body byte k is at
// tuple address + 4 + 2k.
struct DriverView {
    explicit DriverView(sim::ModemCard& card) : card(card) {}

    // Body of occurrence n of `code`, or empty when the chain ends first.
    std::vector<std::uint8_t> find(std::uint8_t code, int n) {
        std::uint32_t a = 0;
        int seen = 0;
        while (a + 2 < 0x1000) {
            const std::uint8_t c = card.attr_read(a), link = card.attr_read(a + 2);
            if (c == code && ++seen == n) {
                std::vector<std::uint8_t> body;
                for (std::uint32_t k = 0; k < link; ++k) body.push_back(card.attr_read(a + 4 + 2 * k));
                return body;
            }
            if (c != code && (c == 0xFF || link == 0xFF)) break;
            a += 4 + 2 * link;
        }
        return {};
    }

    sim::ModemCard& card;
};

class BuiltinCard : public testing::Test {
protected:
    sim::ModemCard card{sim::ModemCard::builtin_cis(), 0xFF};
    DriverView driver{card};
};

TEST_F(BuiltinCard, ProductStringReadsAsTheDriverJoinsIt) {
    const auto body = driver.find(0x15, 1);
    ASSERT_GE(body.size(), 25u);
    EXPECT_EQ(body[0], 0x04);
    EXPECT_EQ(body[1], 0x01);
    std::string signature(body.begin() + 2, body.begin() + 25);
    signature[6] = ' ';
    EXPECT_EQ(signature, "Nuvalt ThinPocket Modem");
    EXPECT_EQ(body[25], 0x00);
    EXPECT_EQ(body.back(), 0xFF);
}

TEST_F(BuiltinCard, CorAddressAgreesBetweenDriverAndCard) {
    const auto body = driver.find(0x1A, 1);
    ASSERT_EQ(body.size(), 5u);
    EXPECT_EQ(body[0] & 0x03, 1); // two address bytes, as the driver reads them
    const std::uint32_t cor = body[2] | body[3] << 8;
    EXPECT_EQ(cor, 0x3F8u);
    EXPECT_EQ(card.cor_address(), cor);
    EXPECT_EQ(body[4], 0x01);
}

TEST_F(BuiltinCard, EachComBaseIsOneOfTheFirstFourEntries) {
    struct Case {
        std::uint16_t com;
        std::uint8_t index;
        std::uint8_t layout;
    };
    const Case table[] = {{0x2F8, 0x11, 0xBD}, {0x3F8, 0x13, 0xEA}, {0x3E8, 0x15, 0xBD}, {0x2E8, 0x17, 0xEA}};
    for (const Case& c : table) {
        int found = 0;
        std::uint8_t index = 0, layout = 0;
        for (int n = 1; n <= 4 && !found; ++n) {
            const auto body = driver.find(0x1B, n);
            ASSERT_GE(body.size(), 6u) << "entry " << n;
            index = body[0] & 0x3F;
            layout = body[2];
            std::uint16_t base = 0;
            if (layout == 0xEA) base = static_cast<std::uint16_t>(body[4] | body[5] << 8);
            if (layout == 0xBD) base = static_cast<std::uint16_t>(body[body.size() - 9] | body[body.size() - 8] << 8);
            if (base == c.com) found = n;
        }
        ASSERT_NE(found, 0) << std::hex << c.com;
        EXPECT_EQ(index, c.index) << std::hex << c.com;
        EXPECT_EQ(layout, c.layout) << std::hex << c.com;
        EXPECT_EQ(index | 0x11, index);

        // The driver's COR write, index OR 0x51, configures the card there.
        card.attr_write(0x3F8, static_cast<std::uint8_t>(index | 0x51));
        EXPECT_EQ(card.io_base(), c.com);
        EXPECT_EQ(card.cor(), index | 0x51);
    }
    EXPECT_TRUE(driver.find(0x1B, 5).empty());
}

TEST_F(BuiltinCard, TheRecordsOtherTuplesArePresent) {
    EXPECT_EQ(driver.find(0x01, 1), (std::vector<std::uint8_t>{0x00, 0x00, 0xFF}));
    EXPECT_EQ(driver.find(0x20, 1).size(), 4u);
    const auto funcid = driver.find(0x21, 1);
    ASSERT_EQ(funcid.size(), 2u);
    EXPECT_EQ(funcid[0], 0x02);
    EXPECT_EQ(driver.find(0x1A, 1)[1], 0x17); // last index
}

} // namespace
