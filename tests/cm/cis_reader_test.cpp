// ParseCis on small window fixtures. The window sits against a guard page and
// is read-only while searched, and the body buffer ends at a guard page, so
// any read past the window's end or write outside the buffer faults.
#include "cis_fixtures.hpp"
#include "guarded_bytes.hpp"

#include "modem/cm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace cmtest {
namespace {

constexpr std::uint8_t kUntouched = 0x5C; // body buffer contents before a search

struct ReaderCase {
    std::string name;
    std::function<Bytes()> window;
    ULONG code;
    ULONG occurrence;
    LONG result;
    std::size_t body_at = 0; // window offset of body byte 0 of the tuple found
};

void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }

Bytes chain_15_after_01() {
    return window_of(sim::CisBuilder()
                         .tuple(0x01, {0xD9, 0x01, 0xFF})
                         .tuple(0x15, Bytes(30, 0x33))
                         .end());
}
Bytes three_entries() {
    return window_of(sim::CisBuilder()
                         .tuple(0x1B, {0x01, 0x02})
                         .tuple(0x1B, {0x03, 0x04, 0x05})
                         .tuple(0x1B, {0x06, 0x07, 0x08, 0x09})
                         .end());
}
Bytes link_ff_first(std::uint8_t code) {
    return window_of(sim::CisBuilder()
                         .tuple_with_link(code, 0xFF, Bytes(255, 0x00))
                         .tuple(0x15, {0x10, 0x11, 0x12, 0x13, 0x14})
                         .end());
}
Bytes link_zero_first() {
    return window_of(sim::CisBuilder().tuple(0x1B, {}).tuple(0x1B, {0x21, 0x22}).end());
}
// 255 tuples of code 0x1B with link 0, then a 256th with link 1.
Bytes entries_256() {
    sim::CisBuilder cis;
    for (int i = 0; i < 255; ++i) cis.tuple(0x1B, {});
    return window_of(cis.tuple(0x1B, {0x42}).end());
}
// Filler tuples with link 0 on every even address: no end mark anywhere.
Bytes endless_chain() {
    sim::CisBuilder cis;
    for (std::size_t i = 0; i < kWindow / 4; ++i) cis.tuple(kFiller, {});
    return window_of(cis);
}
// A tuple of the given code at attribute address `at`, body of `link` bytes
// as far as the window goes.
Bytes tuple_at(std::size_t at, std::uint8_t code, std::uint8_t link) {
    sim::CisBuilder cis;
    pad_to(cis, at);
    Bytes body(link);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(0x80 + i);
    return window_of(cis.tuple(code, body).end());
}
// The last even address holds a code byte; its link would be at 0x1000.
Bytes code_at_last_even(std::uint8_t code) {
    sim::CisBuilder cis;
    pad_to(cis, kWindow - 2);
    return window_of(cis.raw({code}));
}

std::vector<ReaderCase> reader_cases() {
    return {
        {"EmptyWindowFindsNothing", [] { return Bytes(kWindow, 0xFF); }, CISTPL_VERS_1, 1, 0},
        {"FindsSecondTupleOfChain", chain_15_after_01, CISTPL_VERS_1, 1, 30, 0x0E},
        {"MissingOccurrenceEndsAtEndMark", chain_15_after_01, CISTPL_VERS_1, 2, 0},
        {"EndMarkEndsChainThoughTuplesFollow",
         [] {
             return window_of(sim::CisBuilder().tuple(kFiller, {0x00}).end().raw({0x00}).tuple(0x15, {0x61}).end());
         },
         CISTPL_VERS_1, 1, 0},
        {"OtherCodeWithLinkFFEndsChain", [] { return link_ff_first(0x20); }, CISTPL_VERS_1, 1, 0},
        {"SoughtCodeWithLinkFFIsCountedAndSteppedOver", [] { return link_ff_first(0x15); }, CISTPL_VERS_1, 2, 5,
         514 + 4},
        {"SoughtCodeWithLinkFFIsFoundItself", [] { return link_ff_first(0x15); }, CISTPL_VERS_1, 1, 255, 4},
        {"RequestedOccurrenceWithLinkZeroIsNotFound", link_zero_first, CISTPL_CFTABLE_ENTRY, 1, 0},
        {"LinkZeroIsSteppedOverByFour", link_zero_first, CISTPL_CFTABLE_ENTRY, 2, 2, 8},
        {"CodeZeroIsReadAsTupleWithLink",
         [] { return window_of(sim::CisBuilder().raw({0x00, 0x02, 0x15, 0x01}).tuple(0x15, {7, 8, 9}).end()); },
         CISTPL_VERS_1, 1, 3, 12},
        {"LinkTuplesAreSteppedOver",
         [] {
             return window_of(sim::CisBuilder()
                                  .tuple(0x13, {'C', 'I', 'S'})           // CISTPL_LINKTARGET
                                  .tuple(0x11, {0, 0x10, 0, 0, 0})        // CISTPL_LONGLINK_A
                                  .tuple(0x1A, {1, 2, 3, 4})
                                  .end());
         },
         CISTPL_CONFIG, 1, 4, 28},
        {"FirstOfThreeEntries", three_entries, CISTPL_CFTABLE_ENTRY, 1, 2, 4},
        {"SecondOfThreeEntries", three_entries, CISTPL_CFTABLE_ENTRY, 2, 3, 12},
        {"ThirdOfThreeEntries", three_entries, CISTPL_CFTABLE_ENTRY, 3, 4, 22},
        {"FourthOfThreeEntriesIsMissing", three_entries, CISTPL_CFTABLE_ENTRY, 4, 0},
        {"OccurrenceComparedInLow8Bits", three_entries, CISTPL_CFTABLE_ENTRY, 0x102, 3, 12},
        {"CodeComparedInLow8Bits", three_entries, 0x11B, 1, 2, 4},
        {"OccurrenceCounterWrapsAfter255", entries_256, CISTPL_CFTABLE_ENTRY, 0, 1, 255 * 4 + 4},
        {"ChainWithoutEndStopsAtWindowEnd", endless_chain, CISTPL_VERS_1, 1, 0},
        {"OtherCodeAtLastEvenAddressStops", [] { return code_at_last_even(kFiller); }, CISTPL_VERS_1, 1, 0},
        {"SoughtCodeAtLastEvenAddressIsNotFound", [] { return code_at_last_even(0x15); }, CISTPL_VERS_1, 1, 0},
        {"BodyReachingPastWindowIsNotFound", [] { return tuple_at(0xFF0, 0x15, 7); }, CISTPL_VERS_1, 1, 0},
        {"BodyEndingAtWindowEndIsFound", [] { return tuple_at(0xFF0, 0x15, 6); }, CISTPL_VERS_1, 1, 6, 0xFF4},
        {"LongBodyPastWindowIsNotFoundThoughBufferPartFits", [] { return tuple_at(0xF00, 0x15, 200); },
         CISTPL_VERS_1, 1, 0},
        {"Link64FillsWholeBuffer", [] { return tuple_at(0x20, 0x1B, 64); }, CISTPL_CFTABLE_ENTRY, 1, 64, 0x24},
        {"Link65CopiesFirst128Bytes", [] { return tuple_at(0x20, 0x1B, 65); }, CISTPL_CFTABLE_ENTRY, 1, 65, 0x24},
        {"Link200CopiesFirst128Bytes", [] { return tuple_at(0x20, 0x1B, 200); }, CISTPL_CFTABLE_ENTRY, 1, 200,
         0x24},
    };
}

class ParseCisTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(ParseCisTest, FindsAndCopiesWithinWindowAndBuffer) {
    const ReaderCase& c = GetParam();
    GuardedBytes window(kWindow);
    const Bytes image = c.window();
    window.load(image);
    window.writable(false);
    GuardedBytes body(CIS_BODY_BUFFER_SIZE);
    std::fill_n(body.data(), body.size(), kUntouched);

    EXPECT_EQ(ParseCis(window.data(), c.code, c.occurrence, body.data()), c.result);

    Bytes expected(CIS_BODY_BUFFER_SIZE, kUntouched);
    if (c.result > 0) {
        std::size_t n = std::min<std::size_t>(2 * static_cast<std::size_t>(c.result), CIS_BODY_BUFFER_SIZE);
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(c.body_at), n, expected.begin());
    }
    EXPECT_EQ(body.bytes(), expected);
    EXPECT_EQ(window.bytes(), image);
}

INSTANTIATE_TEST_SUITE_P(Chains, ParseCisTest, testing::ValuesIn(reader_cases()),
                         [](const testing::TestParamInfo<ReaderCase>& i) { return i.param.name; });

// The copy takes odd addresses too: position 2k + 1 is what the window shows
// after body byte k, and positions from 2 * link on keep an earlier search's bytes.
TEST(ParseCis, CopiesOddAddressesAndKeepsTheRestOfTheBuffer) {
    GuardedBytes window(kWindow);
    const Bytes image =
        window_of(sim::CisBuilder().tuple(0x1A, {0x01, 0x03, 0x00, 0x02, 0x01}).tuple(0x15, {0x41, 0x42}).end());
    window.load(image);
    window.writable(false);
    GuardedBytes body(CIS_BODY_BUFFER_SIZE);
    std::fill_n(body.data(), body.size(), kUntouched);

    ASSERT_EQ(ParseCis(window.data(), CISTPL_CONFIG, 1, body.data()), 5);
    ASSERT_EQ(ParseCis(window.data(), CISTPL_VERS_1, 1, body.data()), 2);

    Bytes expected(CIS_BODY_BUFFER_SIZE, kUntouched);
    const Bytes first = {0x01, kOddFill, 0x03, kOddFill, 0x00, kOddFill, 0x02, kOddFill, 0x01, kOddFill};
    std::copy(first.begin(), first.end(), expected.begin());
    expected[0] = 0x41;
    expected[2] = 0x42;
    EXPECT_EQ(body.bytes(), expected);
}

} // namespace
} // namespace cmtest
