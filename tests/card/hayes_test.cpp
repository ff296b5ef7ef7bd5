#include "sim/card/hayes.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string feed(sim::HayesModem& modem, const std::string& input) {
    for (char c : input) modem.receive(static_cast<std::uint8_t>(c));
    std::string out;
    while (auto c = modem.transmit()) out.push_back(static_cast<char>(*c));
    return out;
}

struct Case {
    const char* name;
    std::string input;
    std::string output;
    bool echo_after;
};

class HayesCases : public testing::TestWithParam<Case> {};

TEST_P(HayesCases, AnswersWithFramedResultCodes) {
    const Case& c = GetParam();
    sim::HayesModem modem;
    EXPECT_EQ(feed(modem, c.input), c.output);
    EXPECT_EQ(modem.echo(), c.echo_after);
    EXPECT_FALSE(modem.has_output());
}

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";
const std::string kName = "\r\nNuvalt ThinPocket Modem\r\n";

INSTANTIATE_TEST_SUITE_P(
    Commands, HayesCases,
    testing::Values(
        Case{"BareAt", "AT\r", "AT\r" + kOk, true},
        Case{"LowerCase", "at\r", "at\r" + kOk, true},
        Case{"MixedCase", "aT\r", "aT\r" + kOk, true},
        Case{"Identify", "ATI\r", "ATI\r" + kName + kOk, true},
        Case{"IdentifyZero", "ati0\r", "ati0\r" + kName + kOk, true},
        Case{"EchoOff", "ATE0\r", "ATE0\r" + kOk, false},
        Case{"EchoOffThenCommand", "ATE0\rAT\r", "ATE0\r" + kOk + kOk, false},
        Case{"EchoAloneIsOff", "ATE\r", "ATE\r" + kOk, false},
        Case{"EchoBackOn", "ATE0\rATE1\rAT\r", "ATE0\r" + kOk + kOk + "AT\r" + kOk, true},
        Case{"ResetRestoresEcho", "ATE0\rATZ\rAT\r", "ATE0\r" + kOk + kOk + "AT\r" + kOk, true},
        Case{"ResetEndsTheLine", "ATZE0\r", "ATZE0\r" + kOk, true},
        Case{"SeveralCommands", "AT E0 I\r", "AT E0 I\r" + kName + kOk, false},
        Case{"UnknownCommand", "ATX\r", "ATX\r" + kError, true},
        Case{"EchoOutOfRange", "ATE2\r", "ATE2\r" + kError, true},
        Case{"IdentifyOutOfRange", "ATI3\r", "ATI3\r" + kError, true},
        Case{"ResetOutOfRange", "ATZ1\r", "ATZ1\r" + kError, true},
        Case{"HugeNumber", "ATE00000000000001\r", "ATE00000000000001\r" + kOk, true},
        Case{"HugeNumberOutOfRange", "ATE99999999999999\r", "ATE99999999999999\r" + kError, true},
        Case{"ErrorAfterDoneCommands", "ATE0Q\r", "ATE0Q\r" + kError, false},
        Case{"OutputBeforeError", "ATIX\r", "ATIX\r" + kName + kError, true},
        Case{"NoPrefixNoAnswer", "hello\r", "hello\r", true},
        Case{"LoneAIsNoCommand", "A\r", "A\r", true},
        Case{"EmptyLine", "\r", "\r", true},
        Case{"CrLfLines", "AT\r\nAT\r\n", "AT\r" + kOk + "\nAT\r" + kOk + "\n", true},
        Case{"LeadingSpaces", "  AT\r", "  AT\r" + kOk, true},
        Case{"Backspace", "ATX\bI\r", "ATX\bI\r" + kName + kOk, true},
        Case{"BackspaceOnEmptyLine", "\bAT\r", "\bAT\r" + kOk, true},
        Case{"NoAnswerBeforeCr", "AT", "AT", true}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(Hayes, OverlongLineIsAnErrorAndTheNextLineWorks) {
    sim::HayesModem modem;
    feed(modem, "ATE0\r");
    const std::string line = "AT" + std::string(sim::HayesModem::kMaxLine, 'E');
    EXPECT_EQ(feed(modem, line + "\r"), kError);
    EXPECT_EQ(feed(modem, "AT\r"), kOk);
}

TEST(Hayes, HostThatNeverReadsDoesNotGrowTheModem) {
    sim::HayesModem modem;
    for (int i = 0; i < 10000; ++i)
        for (char c : std::string("AT\r")) modem.receive(static_cast<std::uint8_t>(c));
    std::size_t n = 0;
    while (modem.transmit()) ++n;
    EXPECT_EQ(n, sim::HayesModem::kMaxOutput);
}

TEST(Hayes, ResetClearsLineAndOutput) {
    sim::HayesModem modem;
    for (char c : std::string("ATE0\rATI")) modem.receive(static_cast<std::uint8_t>(c));
    ASSERT_FALSE(modem.echo());
    ASSERT_EQ(modem.line(), "ATI");
    ASSERT_TRUE(modem.has_output());
    modem.reset();
    EXPECT_TRUE(modem.echo());
    EXPECT_TRUE(modem.line().empty());
    EXPECT_FALSE(modem.has_output());
}

} // namespace
