// Registry files shaped to break the reader or the write-back, as the
// registry file's fuzz harness found them: each must be refused with its
// line, or, when it reads, take a DialSuffix write that reads back.
#include "regfile.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dialtrim::test {
namespace {

std::vector<std::uint8_t> Bytes(const std::string &text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> Utf16(const std::string &ascii)
{
    std::vector<std::uint8_t> out = {0xFF, 0xFE};
    for (char c : ascii) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

struct Refused {
    const char *name;
    std::vector<std::uint8_t> image;
    std::string error; // expected start of the message
};

void PrintTo(const Refused &c, std::ostream *os) { *os << c.name; }

class RefusedFile : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedFile, NamesTheLine)
{
    std::string error;
    EXPECT_FALSE(RegistryFile::Parse(GetParam().image, "hostile.reg", error));
    EXPECT_EQ(error.substr(0, GetParam().error.size()), GetParam().error);
}

// Two backslashes in a row would make a parent key whose name ends in '\':
// a write to it would add a block that no reader takes.
INSTANTIATE_TEST_SUITE_P(
    EmptyKeyPart, RefusedFile,
    ::testing::Values(
        Refused{"Inside", Bytes("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\\\Modem]\n"),
                "hostile.reg:3: key name has an empty part"},
        Refused{"AfterRoot", Bytes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\\\System]\n"),
                "hostile.reg:2: key name has an empty part"},
        Refused{"InDeletion", Bytes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n[-HKEY_LOCAL_MACHINE\\A\\\\B]\n"),
                "hostile.reg:3: key name has an empty part"},
        Refused{"Unicode", Utf16("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A\\\\\\B]\r\n"),
                "hostile.reg:2: key name has an empty part"}),
    [](const auto &info) { return std::string(info.param.name); });

struct ParentWrite {
    const char *name;
    std::vector<std::uint8_t> image;
    const char *key; // a key the file knows only as a parent
};

void PrintTo(const ParentWrite &c, std::ostream *os) { *os << c.name; }

class WriteToParent : public ::testing::TestWithParam<ParentWrite> {};

TEST_P(WriteToParent, ReadsBack)
{
    std::string error;
    auto file = RegistryFile::Parse(GetParam().image, "hostile.reg", error);
    ASSERT_TRUE(file) << error;
    ASSERT_TRUE(file->HasKey(GetParam().key));
    const std::uint8_t empty[] = {0};
    ASSERT_TRUE(file->Set(GetParam().key, "DialSuffix", 1, empty));

    auto again = RegistryFile::Parse(file->Render(), "hostile.reg", error);
    ASSERT_TRUE(again) << error;
    auto value = again->Query(GetParam().key, "DialSuffix");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->data, std::vector<std::uint8_t>{0});
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, WriteToParent,
    ::testing::Values(
        ParentWrite{"Root", Bytes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n"), "HKEY_LOCAL_MACHINE"},
        ParentWrite{"TwoUp", Bytes("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n\"x\"=\"y\""),
                    "HKEY_LOCAL_MACHINE\\A"},
        ParentWrite{"TrailingBlankInName", Bytes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A \\B]\n"),
                    "HKEY_LOCAL_MACHINE\\A "},
        ParentWrite{"Unicode", Utf16("Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\S\\Settings\\Init]\r\n"),
                    "HKEY_USERS\\S\\Settings"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace dialtrim::test
