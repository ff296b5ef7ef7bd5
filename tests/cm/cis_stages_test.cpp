// CmParseTuples, ParseCor, CmCheckForAdapterTuple and CmWriteCor on a record
// whose window is a guarded fixture, with the exact trace lines for Debug 0,
// 1 and 2.
#include "cis_fixtures.hpp"
#include "guarded_bytes.hpp"
#include "sim_trace.hpp"

#include "modem/cm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cmtest {
namespace {

using sim::CisBuilder;

constexpr std::uint8_t kStale = 0xCC; // record bytes no stage has written

CmExtension record_for(std::uint8_t* window, ULONG debug, ULONG com_port = 0x2F8) {
    CmExtension ext;
    std::memset(&ext, kStale, sizeof ext);
    ext.AttrMem = window;
    ext.ComPort = com_port;
    ext.ComIrq = 3;
    ext.Debug = debug;
    return ext;
}

const Bytes kDevice = {0xD9, 0x01, 0xFF};

// The card as it is built: DEVICE, VERS_1, CONFIG, an entry for 0x3F8 in
// the 0xEA layout and one for 0x2F8 in the 0xBD layout.
CisBuilder typical_card() {
    return CisBuilder()
        .tuple(0x01, kDevice)
        .tuple(0x15, CisBuilder::vers1({"Nuvalt", "ThinPocket Modem"}))
        .tuple(0x1A, CisBuilder::config(0x0200, 0x03))
        .tuple(0x1B, entry_ea(0xC1, 0x3F8))
        .tuple(0x1B, entry_bd(0x02, 0x2F8))
        .end();
}
// A valid card up to its entries.
CisBuilder card_head() {
    return CisBuilder()
        .tuple(0x15, CisBuilder::vers1({"Nuvalt", "ThinPocket Modem"}))
        .tuple(0x1A, CisBuilder::config(0x0200, 0x03));
}
Bytes text_body(std::string_view text) {
    Bytes b{0x04, 0x01};
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

// ---------------------------------------------------------------------
// CmParseTuples: stage result and the record it leaves.

struct TuplesCase {
    std::string name;
    std::function<CisBuilder()> card;
    LONG result;
    std::optional<std::string> signature; // 23 characters; nullopt: Signature untouched
    std::optional<USHORT> cor;             // nullopt: CorOffset untouched
    std::optional<UCHAR> index;            // nullopt: ConfigIndex untouched
    ULONG com_port = 0x2F8;
};
void PrintTo(const TuplesCase& c, std::ostream* os) { *os << c.name; }

const std::string kName = "Nuvalt ThinPocket Modem";

std::vector<TuplesCase> tuples_cases() {
    return {
        {"TypicalCardChoosesSecondEntry", typical_card, CM_STAGE_PASSED, kName, 0x0200, 0x02},
        {"RegistryPortChoosesItsEntry",
         [] {
             return card_head()
                 .tuple(0x1B, entry_ea(0xC1, 0x3F8))
                 .tuple(0x1B, entry_bd(0x02, 0x2F8))
                 .tuple(0x1B, entry_ea(0x03, 0x3E8))
                 .tuple(0x1B, entry_bd(0x04, 0x2E8))
                 .end();
         },
         CM_STAGE_PASSED, kName, 0x0200, 0x03, 0x3E8},
        {"NoVers1FailsWithRecordUntouched",
         [] { return CisBuilder().tuple(0x1A, CisBuilder::config(0x200, 3)).tuple(0x1B, entry_ea(1, 0x2F8)).end(); },
         CM_STAGE_FAILED, std::nullopt, std::nullopt, std::nullopt},
        {"Vers1Link24IsTooShortAndCountsAsMissing",
         [] {
             return CisBuilder()
                 .tuple(0x15, text_body(std::string("Nuvalt\0ThinPocket Mode", 22)))
                 .tuple(0x1A, CisBuilder::config(0x200, 3))
                 .tuple(0x1B, entry_ea(1, 0x2F8))
                 .end();
         },
         CM_STAGE_FAILED, std::nullopt, std::nullopt, std::nullopt},
        {"Vers1Link25IsEnough",
         [] {
             return CisBuilder()
                 .tuple(0x15, text_body(std::string("Nuvalt\0ThinPocket Modem", 23)))
                 .tuple(0x1A, CisBuilder::config(0x200, 3))
                 .tuple(0x1B, entry_ea(1, 0x2F8))
                 .end();
         },
         CM_STAGE_PASSED, kName, 0x0200, 0x01},
        {"NoConfigFailsAfterSignature",
         [] {
             return CisBuilder()
                 .tuple(0x15, CisBuilder::vers1({"Nuvalt", "ThinPocket Modem"}))
                 .tuple(0x1B, entry_ea(1, 0x2F8))
                 .end();
         },
         CM_STAGE_FAILED, kName, std::nullopt, std::nullopt},
        {"ConfigLink3IsTooShortAndCountsAsMissing",
         [] {
             return CisBuilder()
                 .tuple(0x15, CisBuilder::vers1({"Nuvalt", "ThinPocket Modem"}))
                 .tuple(0x1A, {0x01, 0x03, 0x00})
                 .tuple(0x1B, entry_ea(1, 0x2F8))
                 .end();
         },
         CM_STAGE_FAILED, kName, std::nullopt, std::nullopt},
        {"ConfigLink4IsEnough",
         [] {
             return CisBuilder()
                 .tuple(0x15, CisBuilder::vers1({"Nuvalt", "ThinPocket Modem"}))
                 .tuple(0x1A, {0x01, 0x03, 0x00, 0x02})
                 .tuple(0x1B, entry_ea(1, 0x2F8))
                 .end();
         },
         CM_STAGE_PASSED, kName, 0x0200, 0x01},
        {"CorOffsetFromBodyBytes2And3",
         [] {
             return CisBuilder()
                 .tuple(0x15, CisBuilder::vers1({"Nuvalt", "ThinPocket Modem"}))
                 .tuple(0x1A, CisBuilder::config(0x0FF8, 3))
                 .tuple(0x1B, entry_ea(1, 0x2F8))
                 .end();
         },
         CM_STAGE_PASSED, kName, 0x0FF8, 0x01},
        {"NoEntryFails", [] { return card_head().end(); }, CM_STAGE_FAILED, kName, 0x0200, std::nullopt},
        {"EntryWithLinkZeroCountsAsMissing",
         [] { return card_head().tuple(0x1B, {}).tuple(0x1B, entry_ea(1, 0x2F8)).end(); }, CM_STAGE_FAILED, kName,
         0x0200, std::nullopt},
        {"TwoEntriesNeitherMatching",
         [] { return card_head().tuple(0x1B, entry_ea(1, 0x3F8)).tuple(0x1B, entry_bd(2, 0x3E8)).end(); },
         CM_STAGE_FAILED, kName, 0x0200, 0x02},
        {"MatchInFifthEntryIsNotSeen",
         [] {
             return card_head()
                 .tuple(0x1B, entry_ea(1, 0x3F8))
                 .tuple(0x1B, entry_ea(2, 0x3E8))
                 .tuple(0x1B, entry_ea(3, 0x2E8))
                 .tuple(0x1B, entry_ea(4, 0x100))
                 .tuple(0x1B, entry_ea(5, 0x2F8))
                 .end();
         },
         CM_STAGE_FAILED, kName, 0x0200, 0x04},
        {"SameBaseLowerOccurrenceWins",
         [] { return card_head().tuple(0x1B, entry_ea(0x21, 0x2F8)).tuple(0x1B, entry_bd(0x22, 0x2F8)).end(); },
         CM_STAGE_PASSED, kName, 0x0200, 0x21},
        {"OtherLayoutNeverMatches",
         [] { return card_head().tuple(0x1B, {0x05, 0x01, 0x7A, 0x60, 0xF8, 0x02, 0x07}).end(); }, CM_STAGE_FAILED,
         kName, 0x0200, 0x05},
        // The CONFIG body's bytes 4 and 5 read 0xF8 0x02 and stay in the
        // buffer where an entry's bytes 4 and 5 go: a four-byte 0xEA entry
        // must not take them as its I/O base.
        {"ShortEaEntryDoesNotTakeStaleBytes",
         [] {
             return CisBuilder()
                 .tuple(0x15, CisBuilder::vers1({"Nuvalt", "ThinPocket Modem"}))
                 .tuple(0x1A, {0x01, 0x03, 0x00, 0x02, 0xF8, 0x02})
                 .tuple(0x1B, {0x07, 0x01, 0xEA, 0x60})
                 .end();
         },
         CM_STAGE_FAILED, kName, 0x0200, 0x07},
        {"BdEntryOfLink8DoesNotMatch",
         [] { return card_head().tuple(0x1B, {0xF8, 0x02, 0xBD, 0x00, 0xF8, 0x02, 0xF8, 0x02}).end(); },
         CM_STAGE_FAILED, kName, 0x0200, 0x38},
        {"BdEntryOfLink71Matches", [] { return card_head().tuple(0x1B, entry_bd(0x09, 0x2F8, 71)).end(); },
         CM_STAGE_PASSED, kName, 0x0200, 0x09},
        {"BdEntryOfLink72HasBaseBeyondBuffer", [] { return card_head().tuple(0x1B, entry_bd(0x0A, 0x2F8, 72)).end(); },
         CM_STAGE_FAILED, kName, 0x0200, 0x0A},
        {"BdEntryOfLink255HasBaseBeyondBuffer",
         [] { return card_head().tuple(0x1B, entry_bd(0x0B, 0x2F8, 255)).end(); }, CM_STAGE_FAILED, kName, 0x0200,
         0x0B},
        {"LongEaEntryMatchesFromCopiedPart",
         [] { return card_head().tuple(0x1B, entry_ea(0x0C, 0x2F8, 100)).end(); }, CM_STAGE_PASSED, kName, 0x0200,
         0x0C},
    };
}

class CmParseTuplesTest : public testing::TestWithParam<TuplesCase> {};

TEST_P(CmParseTuplesTest, LeavesRecordAsCardSays) {
    const TuplesCase& c = GetParam();
    SimTrace sim;
    GuardedBytes window(kWindow);
    window.load(window_of(c.card()));
    window.writable(false);
    CmExtension ext = record_for(window.data(), 0, c.com_port);

    EXPECT_EQ(CmParseTuples(&ext), c.result);

    if (c.signature) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(ext.Signature), 23), *c.signature);
        EXPECT_EQ(ext.Signature[23], 0);
    } else {
        EXPECT_EQ(Bytes(ext.Signature, ext.Signature + 24), Bytes(24, kStale));
    }
    EXPECT_EQ(ext.CorOffset, c.cor.value_or(static_cast<USHORT>(kStale * 0x101)));
    EXPECT_EQ(ext.ConfigIndex, c.index.value_or(kStale));
    EXPECT_EQ(ext.ComPort, c.com_port);
    EXPECT_EQ(sim.trace(), "");
}

INSTANTIATE_TEST_SUITE_P(Cards, CmParseTuplesTest, testing::ValuesIn(tuples_cases()),
                         [](const testing::TestParamInfo<TuplesCase>& i) { return i.param.name; });

// ---------------------------------------------------------------------
// Product string as read and as checked.

struct NameCase {
    std::string name;
    std::vector<std::string_view> strings; // the VERS_1 strings
    LONG check;
};

TEST(ProductString, ReadFromBodyBytes2To24AndChecked) {
    const std::vector<NameCase> cases = {
        {"typical", {"Nuvalt", "ThinPocket Modem"}, CM_STAGE_PASSED},
        {"product goes on", {"Nuvalt", "ThinPocket Modem 33.6"}, CM_STAGE_PASSED},
        {"whole text as manufacturer", {"Nuvalt ThinPocket Modem"}, CM_STAGE_PASSED},
        {"manufacturer of five", {"Nuval", "ThinPocket Modem"}, CM_STAGE_FAILED},
        {"manufacturer of seven", {"Nuvaltx", "ThinPocket Modem"}, CM_STAGE_FAILED},
        {"letter case differs", {"NUVALT", "ThinPocket Modem"}, CM_STAGE_FAILED},
        {"last character differs", {"Nuvalt", "ThinPocket Modex"}, CM_STAGE_FAILED},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimTrace sim;
        GuardedBytes window(kWindow);
        CisBuilder cis;
        Bytes vers1{4, 1};
        for (std::string_view s : c.strings) {
            vers1.insert(vers1.end(), s.begin(), s.end());
            vers1.push_back(0);
        }
        vers1.push_back(0xFF);
        window.load(window_of(cis.tuple(0x15, vers1).tuple(0x1A, CisBuilder::config(0x200, 3))
                                  .tuple(0x1B, entry_ea(1, 0x2F8)).end()));
        CmExtension ext = record_for(window.data(), 0);
        ASSERT_EQ(CmParseTuples(&ext), CM_STAGE_PASSED);
        EXPECT_EQ(ext.Signature[6], 0x20);
        EXPECT_EQ(ext.Signature[23], 0);
        EXPECT_EQ(CmCheckForAdapterTuple(&ext), c.check);
    }
}

TEST(CmCheckForAdapterTuple, ComparesFirst23BytesWithTraces) {
    struct Case {
        std::string signature; // 24 bytes
        LONG result;
        const char* line;
    };
    const std::vector<Case> cases = {
        {kName + '\0', CM_STAGE_PASSED, "Nuvalt: signature passed\n"},
        {kName + 'X', CM_STAGE_PASSED, "Nuvalt: signature passed\n"}, // the terminator is not compared
        {"Nuvalt ThinPocket Modex" + std::string(1, '\0'), CM_STAGE_FAILED, "Nuvalt: signature failed\n"},
        {"Xuvalt ThinPocket Modem" + std::string(1, '\0'), CM_STAGE_FAILED, "Nuvalt: signature failed\n"},
        {std::string(24, '\0'), CM_STAGE_FAILED, "Nuvalt: signature failed\n"},
    };
    for (const Case& c : cases) {
        for (ULONG debug : {0u, 1u, 2u}) {
            SCOPED_TRACE(c.signature + " debug " + std::to_string(debug));
            SimTrace sim;
            CmExtension ext = record_for(nullptr, debug);
            std::memcpy(ext.Signature, c.signature.data(), 24);
            EXPECT_EQ(CmCheckForAdapterTuple(&ext), c.result);
            EXPECT_EQ(sim.trace(), debug ? c.line : "");
        }
    }
}

// ---------------------------------------------------------------------
// Traces of the CIS stages on the typical card.

TEST(CisStageTraces, ExactLinesForDebug0To2) {
    const std::string signature_line = "Signature 0x4e 0x75 0x76 0x61 0x6c 0x74 0x20 0x54 0x68 0x69 0x6e 0x50 0x6f "
                                       "0x63 0x6b 0x65 0x74 0x20 0x4d 0x6f 0x64 0x65 0x6d 0x0 \n";
    const std::string parse_cor = "Nuvalt: ParseCor 1 io 3f8\nNuvalt: ParseCor 2 io 2f8\n";
    const std::vector<std::pair<ULONG, std::string>> cases = {
        {0, ""},
        {1, "Nuvalt: CmParseTuples\n" + signature_line + parse_cor +
                "Nuvalt: signature passed\nNuvalt: CmWriteCor\n"},
        {2, "Nuvalt: CmParseTuples\n" + signature_line + "Nuvalt: signature passed\nNuvalt: CmWriteCor\n"},
    };
    for (const auto& [debug, expected] : cases) {
        SCOPED_TRACE(debug);
        SimTrace sim;
        GuardedBytes window(kWindow);
        window.load(window_of(typical_card()));
        CmExtension ext = record_for(window.data(), debug);
        EXPECT_EQ(CmParseTuples(&ext), CM_STAGE_PASSED);
        EXPECT_EQ(CmCheckForAdapterTuple(&ext), CM_STAGE_PASSED);
        EXPECT_EQ(CmWriteCor(&ext), CM_STAGE_PASSED);
        EXPECT_EQ(sim.trace(), expected);
        EXPECT_EQ(window.data()[0x200], 0x02 | 0x51);
    }
}

TEST(CisStageTraces, FailingStagesWriteOnlyTheirLines) {
    const std::vector<std::pair<ULONG, std::string>> cases = {
        {0, ""},
        {1, "Nuvalt: CmParseTuples\n"},
        {2, "Nuvalt: CmParseTuples\n"},
    };
    for (const auto& [debug, expected] : cases) {
        SCOPED_TRACE(debug);
        SimTrace sim;
        GuardedBytes window(kWindow);
        window.load(Bytes(kWindow, 0xFF));
        CmExtension ext = record_for(window.data(), debug);
        EXPECT_EQ(CmParseTuples(&ext), CM_STAGE_FAILED);
        EXPECT_EQ(sim.trace(), expected);
    }
}

// ---------------------------------------------------------------------
// ParseCor on a body buffer whose every position is set by the case;
// positions past 2 * L stand for what an earlier search left there.

struct CorCase {
    std::string name;
    LONG link;
    std::vector<std::pair<int, std::uint8_t>> body; // body byte k -> value (buffer position 2k)
    LONG result;
    UCHAR index;
    const char* trace; // with Debug 1
    ULONG com_port = 0x2F8;
};
void PrintTo(const CorCase& c, std::ostream* os) { *os << c.name; }

std::vector<CorCase> cor_cases() {
    return {
        {"EaLayoutMatches", 7, {{0, 0xC5}, {2, 0xEA}, {4, 0xF8}, {5, 0x02}}, 1, 0x05, "Nuvalt: ParseCor 5 io 2f8\n"},
        {"EaLayoutOtherBase", 7, {{0, 0x01}, {2, 0xEA}, {4, 0xF8}, {5, 0x03}}, 0, 0x01, "Nuvalt: ParseCor 1 io 3f8\n"},
        {"EaLayoutLink6IsEnough", 6, {{0, 0x3F}, {2, 0xEA}, {4, 0xE8}, {5, 0x03}}, 1, 0x3F,
         "Nuvalt: ParseCor 3f io 3e8\n", 0x3E8},
        {"EaLayoutLink5TooShort", 5, {{0, 0x06}, {2, 0xEA}, {4, 0xF8}, {5, 0x02}}, 0, 0x06, "Nuvalt: ParseCor 6 io 0\n"},
        {"BdLayoutMatches", 19, {{0, 0x02}, {2, 0xBD}, {10, 0xF8}, {11, 0x02}}, 1, 0x02, "Nuvalt: ParseCor 2 io 2f8\n"},
        {"BdLayoutLink9TakesBytes0And1", 9, {{0, 0xF8}, {1, 0x02}, {2, 0xBD}}, 1, 0x38, "Nuvalt: ParseCor 38 io 2f8\n"},
        {"BdLayoutLink8TooShort", 8, {{0, 0x08}, {2, 0xBD}, {4, 0xF8}, {5, 0x02}}, 0, 0x08, "Nuvalt: ParseCor 8 io 0\n"},
        {"BdLayoutLink71LastBufferedBytes", 71, {{0, 0x09}, {2, 0xBD}, {62, 0xF8}, {63, 0x02}}, 1, 0x09,
         "Nuvalt: ParseCor 9 io 2f8\n"},
        {"BdLayoutLink72BeyondBuffer", 72, {{0, 0x0A}, {2, 0xBD}, {63, 0xF8}}, 0, 0x0A, "Nuvalt: ParseCor a io 0\n"},
        {"BdLayoutLink255BeyondBuffer", 255, {{0, 0x0B}, {2, 0xBD}, {63, 0x02}}, 0, 0x0B, "Nuvalt: ParseCor b io 0\n"},
        {"LayoutByteBeyondLink2", 2, {{0, 0x0C}, {2, 0xEA}, {4, 0xF8}, {5, 0x02}}, 0, 0x0C, "Nuvalt: ParseCor c io 0\n"},
        {"OtherLayoutByte", 7, {{0, 0x0D}, {2, 0xEB}, {4, 0xF8}, {5, 0x02}}, 0, 0x0D, "Nuvalt: ParseCor d io 0\n"},
        {"LinkOneSetsIndexOnly", 1, {{0, 0xE0}, {2, 0xEA}, {4, 0xF8}, {5, 0x02}}, 0, 0x20, "Nuvalt: ParseCor 20 io 0\n"},
    };
}

class ParseCorTest : public testing::TestWithParam<CorCase> {};

// Each case runs with the buffer against a guard page at its end and at its
// start, so a read on either side of the 128 bytes faults.
TEST_P(ParseCorTest, ReadsOnlyWhatTheEntryHolds) {
    const CorCase& c = GetParam();
    for (auto edge : {GuardedBytes::Edge::End, GuardedBytes::Edge::Start}) {
        for (ULONG debug : {0u, 1u, 2u}) {
            SCOPED_TRACE(debug);
            SimTrace sim;
            GuardedBytes body(CIS_BODY_BUFFER_SIZE, edge);
            std::memset(body.data(), 0, body.size());
            for (auto [k, v] : c.body) body.data()[2 * k] = v;
            CmExtension ext = record_for(nullptr, debug, c.com_port);

            EXPECT_EQ(ParseCor(&ext, body.data(), c.link), c.result);
            EXPECT_EQ(ext.ConfigIndex, c.index);
            EXPECT_EQ(sim.trace(), debug == 1 ? c.trace : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, ParseCorTest, testing::ValuesIn(cor_cases()),
                         [](const testing::TestParamInfo<CorCase>& i) { return i.param.name; });

// ---------------------------------------------------------------------
// CmWriteCor: one byte at CorOffset, inside the window only.

TEST(CmWriteCor, WritesIndexOr51AtCorOffsetInsideWindowOnly) {
    struct Case {
        USHORT cor;
        UCHAR index;
        LONG result;
        std::uint8_t value; // written at cor when the stage passes
    };
    const std::vector<Case> cases = {
        {0x3F8, 0x20, CM_STAGE_PASSED, 0x71}, {0x200, 0x01, CM_STAGE_PASSED, 0x51},
        {0x200, 0x0E, CM_STAGE_PASSED, 0x5F}, {0x200, 0x3F, CM_STAGE_PASSED, 0x7F},
        {0x000, 0x00, CM_STAGE_PASSED, 0x51}, {0xFFF, 0x02, CM_STAGE_PASSED, 0x53},
        {0x1000, 0x02, CM_STAGE_FAILED, 0},   {0xFFFF, 0x02, CM_STAGE_FAILED, 0},
    };
    for (const Case& c : cases) {
        for (ULONG debug : {0u, 1u, 2u}) {
            SCOPED_TRACE(testing::Message() << "cor " << c.cor << " debug " << debug);
            SimTrace sim;
            GuardedBytes window(kWindow);
            const Bytes image(kWindow, 0xEE);
            window.load(image);
            CmExtension ext = record_for(window.data(), debug);
            ext.CorOffset = c.cor;
            ext.ConfigIndex = c.index;

            EXPECT_EQ(CmWriteCor(&ext), c.result);

            Bytes expected = image;
            if (c.result == CM_STAGE_PASSED) expected[c.cor] = c.value;
            EXPECT_EQ(window.bytes(), expected);
            EXPECT_EQ(sim.trace(), debug ? "Nuvalt: CmWriteCor\n" : "");
        }
    }
}

} // namespace
} // namespace cmtest
