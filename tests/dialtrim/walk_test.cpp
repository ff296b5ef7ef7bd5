// The modem registry walk: which instances it visits, which modems match,
// what it writes at the registry calls and what it prints.
#include "support.hpp"

extern "C" {
#include "dialtrim.h"
}

#include <gtest/gtest.h>

#include <cctype>

namespace dialtrim::test {
namespace {

struct Walk {
    BOOL changed = FALSE;
    std::string output;
    std::vector<RegCall> calls;
    int maxOpenKeys = 0;
    std::size_t keysLeftOpen = 0;

    // Key paths written, in order, each with its bytes.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Writes() const
    {
        std::vector<std::pair<std::string, std::vector<std::uint8_t>>> out;
        for (const auto &c : calls)
            if (c.kind == RegCall::Set)
                out.emplace_back(c.path.substr(FoldName(c.path).find("class\\modem\\") + 12), c.data);
        return out;
    }
    std::vector<std::string> Opened() const
    {
        std::vector<std::string> out;
        for (const auto &c : calls)
            if (c.kind == RegCall::Open)
                out.push_back(c.path.substr(c.path.rfind("modem\\") + 6));
        return out;
    }
};

Walk RunWalk(RegistryFile &file, bool reset)
{
    Walk w;
    HostSession session;
    session.registry = &file;
    session.traceCalls = true;
    session.output = [&](std::string_view text) { w.output += text; };
    {
        SessionScope scope(session);
        w.changed = ModifyModemSettings(reset ? TRUE : FALSE);
    }
    w.calls = std::move(session.calls);
    w.maxOpenKeys = session.maxOpenKeys;
    w.keysLeftOpen = session.openKeys.size();
    return w;
}

using Writes = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;
const std::vector<std::uint8_t> kEmpty = {0x00, 0x00};
const std::vector<std::uint8_t> kSemicolon = {0x3B, 0x00};

struct WalkCase {
    const char *name;
    std::vector<std::pair<int, Modem>> instances;
    bool reset;
    std::string output;
    Writes writes;
};

void PrintTo(const WalkCase &c, std::ostream *os) { *os << c.name; }

std::string CaseName(const testing::TestParamInfo<WalkCase> &info) { return info.param.name; }

class WalkCases : public testing::TestWithParam<WalkCase> {};

TEST_P(WalkCases, PrintsAndWritesExactly)
{
    const WalkCase &c = GetParam();
    RegistryFile file = ParseOrDie(ModemRegistry(c.instances));
    Walk w = RunWalk(file, c.reset);

    EXPECT_EQ(w.output, c.output);
    EXPECT_EQ(w.Writes(), c.writes);
    EXPECT_EQ(w.changed != FALSE, !c.writes.empty());
    // One key open at a time, all closed, every key opened with full access.
    EXPECT_LE(w.maxOpenKeys, 1);
    EXPECT_EQ(w.keysLeftOpen, 0u);
    for (const auto &call : w.calls) {
        if (call.kind == RegCall::Open) {
            EXPECT_EQ(call.access, 0xF003Fu) << call.path;
        }
        if (call.kind == RegCall::Query) {
            EXPECT_EQ(call.name, "Model");
            EXPECT_EQ(call.size, 64u);
        }
        if (call.kind == RegCall::Set) {
            EXPECT_EQ(call.name, "DialSuffix");
            EXPECT_EQ(call.type, 1u); // REG_SZ
            EXPECT_EQ(call.size, 2u);
        }
    }
    // What was written is what the registry now holds.
    for (const auto &[key, bytes] : c.writes)
        EXPECT_EQ(ValueData(file, kClass + key, "dialsuffix"), bytes) << key;
}

const Modem kThinPocket{Str("Nuvalt ThinPocket Modem")};

const WalkCase kWalkCases[] = {
    {"NoInstances", {}, false, "", {}},
    {"DefaultMode", {{0, kThinPocket}}, false, "NUVALT THINPOCKET MODEM has had DialSuffix removed\n",
     {{"0000\\settings", kEmpty}}},
    {"ResetMode", {{0, kThinPocket}}, true, "NUVALT THINPOCKET MODEM has had DialSuffix set to ';'\n",
     {{"0000\\settings", kSemicolon}}},
    {"OtherMakerLeftAlone", {{0, {Str("Hayes Optima 288")}}}, false, "", {}},
    {"LowerCaseMatches", {{0, {Str("nuvalt pocket 28.8")}}}, false, "NUVALT POCKET 28.8 has had DialSuffix removed\n",
     {{"0000\\settings", kEmpty}}},
    {"InsideALongerWord", {{0, {Str("MegaNUVALTech")}}}, false, "MEGANUVALTECH has had DialSuffix removed\n",
     {{"0000\\settings", kEmpty}}},
    {"AtTheEnd", {{0, {Str("Fax modem by nUvAlT")}}}, true, "FAX MODEM BY NUVALT has had DialSuffix set to ';'\n",
     {{"0000\\settings", kSemicolon}}},
    // Only a to z change case: punctuation next to the letters ('`', '{',
    // '~') and bytes from 0x80 stay as they are.
    {"OnlyAsciiLettersChangeCase", {{0, {Str("Nuvalt `{|}~ Mod\xe8m \xe0\xff")}}}, false,
     "NUVALT `{|}~ MOD\xe8M \xe0\xff has had DialSuffix removed\n", {{"0000\\settings", kEmpty}}},
    {"AccentedLetterIsNotPlain", {{0, {Str("Nuv\xe1lt")}}}, false, "", {}},
    {"FirstMissingNumberEndsTheWalk", {{0, kThinPocket}, {2, kThinPocket}}, false,
     "NUVALT THINPOCKET MODEM has had DialSuffix removed\n", {{"0000\\settings", kEmpty}}},
    {"NoSettingsKeyThenNext", {{0, {Str("Nuvalt A"), false}}, {1, {Str("Nuvalt B")}}}, false,
     "Unable to change dial suffix\nNUVALT B has had DialSuffix removed\n", {{"0001\\settings", kEmpty}}},
    {"NoSettingsKeyAlone", {{0, {Str("Nuvalt A"), false}}}, true, "Unable to change dial suffix\n", {}},
    {"TwoMatchesInInstanceOrder", {{0, {Str("Nuvalt A")}}, {1, {Str("Hayes")}}, {2, {Str("nuvalt b")}}}, false,
     "NUVALT A has had DialSuffix removed\nNUVALT B has had DialSuffix removed\n",
     {{"0000\\settings", kEmpty}, {"0002\\settings", kEmpty}}},
    {"DialSuffixCreatedWhenAbsent", {{0, {Str("Nuvalt"), true, ""}}}, false, "NUVALT has had DialSuffix removed\n",
     {{"0000\\settings", kEmpty}}},
    {"DialSuffixRewrittenWhenAlreadyRight", {{0, {Str("Nuvalt"), true, Str("")}}}, false,
     "NUVALT has had DialSuffix removed\n", {{"0000\\settings", kEmpty}}},
};

INSTANTIATE_TEST_SUITE_P(Registry, WalkCases, testing::ValuesIn(kWalkCases), CaseName);

TEST(Walk, ARefusedWriteIsNotReportedAsAChange)
{
    RegistryFile file = ParseOrDie(ModemRegistry({{0, kThinPocket}, {1, {Str("Nuvalt B")}}}));
    HostSession session;
    session.registry = &file;
    session.valueWritesFail = true;
    std::string output;
    session.output = [&](std::string_view text) { output += text; };
    BOOL changed;
    {
        SessionScope scope(session);
        changed = ModifyModemSettings(FALSE);
    }
    EXPECT_FALSE(changed);
    EXPECT_EQ(output, "Unable to change dial suffix\nUnable to change dial suffix\n");
    EXPECT_FALSE(file.modified());
    EXPECT_TRUE(session.openKeys.empty());
}

TEST(Walk, VisitsOnlyUpToTheFirstMissingNumber)
{
    RegistryFile file = ParseOrDie(ModemRegistry({{0, {Str("Hayes")}}, {2, kThinPocket}}));
    Walk w = RunWalk(file, false);
    EXPECT_EQ(w.Opened(), (std::vector<std::string>{"0000", "0001"}));
    EXPECT_FALSE(w.changed);
}

TEST(Walk, InstanceOneHundredIsNamed0100)
{
    std::vector<std::pair<int, Modem>> instances;
    for (int i = 0; i < 100; ++i)
        instances.push_back({i, {Str("Hayes " + std::to_string(i))}});
    instances.push_back({100, kThinPocket});
    RegistryFile file = ParseOrDie(ModemRegistry(instances));
    Walk w = RunWalk(file, false);
    EXPECT_EQ(w.output, "NUVALT THINPOCKET MODEM has had DialSuffix removed\n");
    EXPECT_EQ(w.Writes(), (Writes{{"0100\\settings", kEmpty}}));
    std::vector<std::string> opened = w.Opened();
    ASSERT_GE(opened.size(), 3u);
    EXPECT_EQ(opened[opened.size() - 3], "0100");          // the instance key
    EXPECT_EQ(opened[opened.size() - 2], "0100\\settings"); // its settings key
    EXPECT_EQ(opened.back(), "0101");                       // the end of the walk
}

// An instance whose "Model" gives no usable model name is left alone, as
// if its model matched nothing: the value is missing, deleted, not a
// string, empty, or longer than 63 characters. Each case follows a Nuvalt
// modem, so a model left over from the instance before would show at once.
struct ModelCase {
    const char *name;
    std::string model;
    std::string line; // printed for instance 0001; empty: left alone
};

void PrintTo(const ModelCase &c, std::ostream *os) { *os << c.name; }

class ModelCases : public testing::TestWithParam<ModelCase> {};

std::string HexOf(const std::string &bytes)
{
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", static_cast<unsigned char>(bytes[i]));
        out += buf;
    }
    return out;
}

const std::string k63 = "Nuvalt " + std::string(56, 'x');  // 63 characters
const std::string k64 = "Nuvalt " + std::string(57, 'x');  // 64 characters

TEST_P(ModelCases, NeverActsOnAModelItCannotRead)
{
    const ModelCase &c = GetParam();
    RegistryFile file = ParseOrDie(ModemRegistry({{0, {Str("Nuvalt First")}}, {1, {c.model}}}));
    Walk w = RunWalk(file, false);
    std::string expected = "NUVALT FIRST has had DialSuffix removed\n";
    Writes writes = {{"0000\\settings", kEmpty}};
    if (!c.line.empty()) {
        expected += c.line;
        writes.push_back({"0001\\settings", kEmpty});
    }
    EXPECT_EQ(w.output, expected);
    EXPECT_EQ(w.Writes(), writes);
    EXPECT_EQ(ValueData(file, kClass + "0001\\settings", "DialSuffix"),
              c.line.empty() ? Bytes(std::string(";\0", 2)) : kEmpty);
}

const ModelCase kModelCases[] = {
    {"Missing", "", ""},
    {"Deleted", "-", ""},
    {"Empty", Str(""), ""},
    {"Binary", "hex:" + HexOf(std::string("Nuvalt\0", 7)), ""},
    {"Dword", "dword:4e757661", ""},
    {"MultiString", "hex(7):" + HexOf(std::string("Nuvalt\0\0", 8)), ""},
    {"Longer than 63 characters", Str(k64), ""},
    {"64 bytes without terminator", "hex(1):" + HexOf(k64), ""},
    // What is usable: a fitting string, with or without a stored
    // terminator, and an expandable string.
    {"Exactly 63 characters", Str(k63), "NUVALT " + std::string(56, 'X') + " has had DialSuffix removed\n"},
    {"63 bytes without terminator", "hex(1):" + HexOf(k63),
     "NUVALT " + std::string(56, 'X') + " has had DialSuffix removed\n"},
    {"Short without terminator", "hex(1):" + HexOf("Nuvalt 2"), "NUVALT 2 has had DialSuffix removed\n"},
    {"Expandable string", "hex(2):" + HexOf(std::string("Nuvalt X\0", 9)), "NUVALT X has had DialSuffix removed\n"},
};

INSTANTIATE_TEST_SUITE_P(Model, ModelCases, testing::ValuesIn(kModelCases), [](const auto &info) {
    std::string n = info.param.name;
    for (char &ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
});

} // namespace
} // namespace dialtrim::test
