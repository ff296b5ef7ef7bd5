// The program's paths from entry to exit: platform check, command line,
// walks, outcome line, key wait and exit status.
#include "support.hpp"

#include <gtest/gtest.h>

namespace dialtrim::test {
namespace {

const std::string kNuvaltLine = "NUVALT THINPOCKET MODEM has had DialSuffix removed\n";
const std::string kResetLine = "NUVALT THINPOCKET MODEM has had DialSuffix set to ';'\n";
const std::string kRefused = "This utility is for Windows 95 only\nNo changes have been made\n";
const std::string kUsage = "Usage: DIALTRIM [/u]\n/u Resets the modem settings\n";
const std::string kReset = "The Nuvalt Modem settings have been reset.\n";
const std::string kUnable = "Unable to modify modem settings.\n";
const std::string kPress = "Press any key to continue ...\n";
const std::string kNoSettings = "Unable to change dial suffix\n";

enum class Reg { Nuvalt, Other, NuvaltWithoutSettings };

std::string RegistryText(Reg kind)
{
    switch (kind) {
    case Reg::Nuvalt:
        return ModemRegistry({{0, {Str("Nuvalt ThinPocket Modem")}}});
    case Reg::Other:
        return ModemRegistry({{0, {Str("Hayes Optima 288")}}});
    case Reg::NuvaltWithoutSettings:
        return ModemRegistry({{0, {Str("Nuvalt ThinPocket Modem"), false}}});
    }
    return {};
}

struct FlowCase {
    const char *name;
    std::vector<std::string> args;
    Reg registry = Reg::Nuvalt;
    RunOptions options{};
    std::string afterBanner;
    bool keyWait;
    int status;
    bool touchesRegistry;
    std::optional<std::string> dialSuffix;  // of instance 0000 afterwards, when it has settings
};

void PrintTo(const FlowCase &c, std::ostream *os) { *os << c.name; }

std::string CaseName(const testing::TestParamInfo<FlowCase> &info) { return info.param.name; }

class Flow : public testing::TestWithParam<FlowCase> {};

TEST_P(Flow, PrintsWaitsAndExitsAsItsPathRequires)
{
    const FlowCase &c = GetParam();
    RegistryFile file = ParseOrDie(RegistryText(c.registry));
    RunResult r = RunProgram(&file, c.args, c.options);

    EXPECT_EQ(r.output, kBanner + c.afterBanner);
    EXPECT_EQ(r.keyWaits, c.keyWait ? 1 : 0);
    if (c.keyWait) {
        EXPECT_EQ(r.outputAtKeyWait, r.output.size()) << "every line is out before the key wait";
    }
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(!r.calls.empty(), c.touchesRegistry);
    EXPECT_EQ(file.modified(), c.dialSuffix.has_value());
    if (c.dialSuffix) {
        std::string expected = *c.dialSuffix;
        expected.push_back('\0');
        expected.push_back('\0');
        expected.resize(2);
        EXPECT_EQ(ValueData(file, kClass + "0000\\settings", "DialSuffix"), Bytes(expected));
    }
    EXPECT_EQ(r.keysLeftOpen, 0u);
}

const FlowCase kFlowCases[] = {
    // The platform test comes before the command line is looked at; the
    // status is the character count of the last refusal line.
    {"NtRefused", {}, Reg::Nuvalt, {2}, kRefused, false, 26, false, {}},
    {"NtRefusedBeforeBadCommandLine", {"/x", "y"}, Reg::Nuvalt, {2}, kRefused, false, 26, false, {}},
    {"Win32sRefused", {"/u"}, Reg::Nuvalt, {0}, kRefused, false, 26, false, {}},
    {"UnknownPlatformRefused", {}, Reg::Nuvalt, {7}, kRefused, false, 26, false, {}},
    {"FailedVersionQueryRefused", {}, Reg::Nuvalt, {1, true}, kRefused, false, 26, false, {}},

    // Refused command lines: usage text, status 0, nothing read or written.
    {"LoneU", {"u"}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"SlashAlone", {"/"}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"HyphenAlone", {"-"}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"SlashOtherLetter", {"/x"}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"SwitchWithFurtherCharacter", {"/uu"}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"EmptyArgument", {""}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"BackslashU", {"\\u"}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"ResetSwitchFollowedByMore", {"/u", "x"}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"TwoEmptyArguments", {"", ""}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},
    {"HelpIsNotASwitch", {"--help"}, Reg::Nuvalt, {}, kUsage, false, 0, false, {}},

    // Accepted reset switches: the reset walk changed a modem, so the run
    // ends with status 0 and no key wait.
    {"ResetSlashLower", {"/u"}, Reg::Nuvalt, {}, kResetLine + kReset, false, 0, true, ";"},
    {"ResetSlashUpper", {"/U"}, Reg::Nuvalt, {}, kResetLine + kReset, false, 0, true, ";"},
    {"ResetHyphenLower", {"-u"}, Reg::Nuvalt, {}, kResetLine + kReset, false, 0, true, ";"},
    {"ResetHyphenUpper", {"-U"}, Reg::Nuvalt, {}, kResetLine + kReset, false, 0, true, ";"},

    // A reset walk that changed nothing is followed by the default walk.
    {"ResetNothingMatches", {"/u"}, Reg::Other, {}, kUnable + kPress, true, 'k', true, {}},
    {"ResetNoSettingsKey", {"-U"}, Reg::NuvaltWithoutSettings, {},
     kNoSettings + kNoSettings + kUnable + kPress, true, 'k', true, {}},

    // The default walk: no summary line when it changed a modem; the status
    // is the key's code (0 and 224 for extended keys, -1 without console).
    {"DefaultChanged", {}, Reg::Nuvalt, {}, kNuvaltLine + kPress, true, 'k', true, std::string()},
    {"DefaultNothingMatches", {}, Reg::Other, {}, kUnable + kPress, true, 'k', true, {}},
    {"DefaultNoSettingsKey", {}, Reg::NuvaltWithoutSettings, {}, kNoSettings + kUnable + kPress, true, 'k', true, {}},
    {"StatusOfCursorKey", {}, Reg::Other, {1, false, 224}, kUnable + kPress, true, 224, true, {}},
    {"StatusWithoutConsole", {}, Reg::Other, {1, false, -1}, kUnable + kPress, true, -1, true, {}},
};

INSTANTIATE_TEST_SUITE_P(Paths, Flow, testing::ValuesIn(kFlowCases), CaseName);

TEST(Flow, EmptyRegistryRunsTheDefaultWalkAndWaits)
{
    RunResult r = RunProgram(nullptr, {});
    EXPECT_EQ(r.output, kBanner + kUnable + kPress);
    EXPECT_EQ(r.keyWaits, 1);
}

TEST(Flow, ResetAfterResetChangesAgain)
{
    // A value that already holds the wanted content is written again and
    // counts as changed.
    RegistryFile file = ParseOrDie(ModemRegistry({{0, {Str("Nuvalt"), true, Str(";")}}}));
    RunResult r = RunProgram(&file, {"/u"});
    EXPECT_EQ(r.output, kBanner + "NUVALT has had DialSuffix set to ';'\n" + kReset);
    EXPECT_EQ(r.Sets().size(), 1u);
}

} // namespace
} // namespace dialtrim::test
