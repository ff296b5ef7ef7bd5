// DIALTRIM.EXE's command-line splitter, built for the host, against the
// argument rules of the Microsoft C runtime: the runtime's own documented
// examples first, then the program name and the edges.
extern "C" {
#include "cmdline.h"
}

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string &line, unsigned textSize, int maxArgs)
{
    std::vector<char> text(textSize + 1, '#'); // one guard byte past the end
    std::vector<char *> argv(static_cast<std::size_t>(maxArgs) + 1, nullptr);
    char *guard = reinterpret_cast<char *>(0x1);
    argv[static_cast<std::size_t>(maxArgs)] = guard;
    int argc = DtSplitCommandLine(line.c_str(), text.data(), textSize, argv.data(), maxArgs);
    EXPECT_EQ(text[textSize], '#') << "wrote past the text buffer";
    EXPECT_EQ(argv[static_cast<std::size_t>(maxArgs)], guard) << "wrote past the pointer array";
    std::vector<std::string> args;
    if (argc < 0 || argc >= maxArgs) {
        ADD_FAILURE() << "argc " << argc;
        return args;
    }
    EXPECT_EQ(argv[static_cast<std::size_t>(argc)], nullptr) << "argv not ended by a null pointer";
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[static_cast<std::size_t>(i)]);
    return args;
}

// With the room cmdline.h promises for the line.
std::vector<std::string> Split(const std::string &line)
{
    return Split(line, static_cast<unsigned>(line.size() + 2), static_cast<int>(line.size() / 2 + 3));
}

struct Case {
    const char *line;
    std::vector<std::string> args; // argument 0 included
};

class SplitTest : public testing::TestWithParam<Case> {};

TEST_P(SplitTest, GivesTheRuntimesArguments)
{
    EXPECT_EQ(Split(GetParam().line), GetParam().args) << "command line: " << GetParam().line;
}

// The runtime documentation's examples, after a program name.
INSTANTIATE_TEST_SUITE_P(Documented, SplitTest,
                         testing::Values(Case{R"(p "a b c" d e)", {"p", "a b c", "d", "e"}},
                                         Case{R"(p "ab\"c" "\\" d)", {"p", "ab\"c", "\\", "d"}},
                                         Case{R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
                                         Case{R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
                                         Case{R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
                                         Case{R"(p a"b"" c d)", {"p", R"(ab" c d)"}}));

INSTANTIATE_TEST_SUITE_P(
    ProgramName, SplitTest,
    testing::Values(
        // Quotes group and are dropped; backslashes before a quote stay.
        Case{R"("C:\Program Files\DIALTRIM.EXE" /u)", {R"(C:\Program Files\DIALTRIM.EXE)", "/u"}},
        Case{R"(C:\TOOLS\"DIAL TRIM"\x.exe -U)", {R"(C:\TOOLS\DIAL TRIM\x.exe)", "-U"}},
        Case{R"(C:\DIR\\"x" y)", {R"(C:\DIR\\x)", "y"}},
        Case{"DIALTRIM", {"DIALTRIM"}},
        Case{"", {""}},
        Case{"\"\" a", {"", "a"}}));

INSTANTIATE_TEST_SUITE_P(
    Edges, SplitTest,
    testing::Values(
        // Blanks and tabs separate, however many; none at the end adds one.
        Case{"p \t /u \t ", {"p", "/u"}},
        Case{"p\t/u", {"p", "/u"}},
        // An empty quoted argument is an argument.
        Case{R"(p "" /u)", {"p", "", "/u"}},
        Case{R"(p "")", {"p", ""}},
        // Quotes inside an argument join what they hold to it.
        Case{R"(p /"u")", {"p", "/u"}},
        Case{R"(p "/"u)", {"p", "/u"}},
        // A quote left open runs to the end of the line.
        Case{R"(p "/u x)", {"p", "/u x"}},
        // Backslashes not before a quote are plain, at the end too.
        Case{R"(p a\b\ c\\)", {"p", R"(a\b\)", R"(c\\)"}},
        // Escaped quotes outside and inside quotes.
        Case{R"(p \")", {"p", "\""}},
        Case{R"(p "\"")", {"p", "\""}},
        Case{R"(p \\\\")", {"p", R"(\\)"}},
        // Two quotes inside quotes: one literal quote, quoting stays on.
        Case{R"(p "a""b c")", {"p", R"(a"b c)"}},
        Case{R"(p """")", {"p", "\""}},
        // Outside quotes, "" opens and closes quoting: nothing.
        Case{R"(p a""b)", {"p", "ab"}},
        // Bytes from 0x80 up are characters like any other.
        Case{"p \xE9t\xE9", {"p", "\xE9t\xE9"}}));

TEST(SplitRoom, ArgumentsThatDoNotFitAreLeftOut)
{
    // Text for "p", "/u" and part of "extra": the last one is dropped whole.
    EXPECT_EQ(Split("p /u extra", 7, 8), (std::vector<std::string>{"p", "/u"}));
    // Pointers for two arguments and the null one.
    EXPECT_EQ(Split("p /u extra", 64, 3), (std::vector<std::string>{"p", "/u"}));
    // No room for even the name.
    EXPECT_EQ(Split("prog /u", 3, 8), (std::vector<std::string>{}));
    EXPECT_EQ(Split("prog /u", 64, 1), (std::vector<std::string>{}));
}

TEST(SplitRoom, PromisedRoomSufficesForTheWorstLines)
{
    // Lines that use the most text or the most argument slots per byte.
    for (const std::string &line : {std::string("\"\""), std::string(" \"\" \"\" \"\""), std::string(" a a a a a"),
                                   std::string("\t\t"), std::string(100, '\\'), std::string(" \"") + "\"\"\""}) {
        std::vector<std::string> plenty = Split(line, 4096, 4096);
        EXPECT_EQ(Split(line), plenty) << line;
    }
}

} // namespace
