// The registry export file: both formats and line ends, the values the
// registry calls see, clear errors, the lossless round trip of a run, and
// the atomic write-back.
#include "support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace dialtrim::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadImage(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteImage(const fs::path &path, const std::vector<std::uint8_t> &image)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
}

// ---- Parse errors: the file name, the line, what is wrong ----

struct BadFile {
    const char *name;
    std::vector<std::uint8_t> image;
    std::string error; // expected start of the message
};

void PrintTo(const BadFile &c, std::ostream *os) { *os << c.name; }

class BadFiles : public testing::TestWithParam<BadFile> {};

TEST_P(BadFiles, AreRefusedWithFileAndLine)
{
    std::string error;
    auto file = RegistryFile::Parse(GetParam().image, "modems.reg", error);
    EXPECT_FALSE(file.has_value());
    EXPECT_EQ(error.substr(0, GetParam().error.size()), GetParam().error) << error;
}

const std::string kKey = "[HKEY_LOCAL_MACHINE\\System]\n";

const BadFile kBadFiles[] = {
    {"Empty", {}, "modems.reg:1: not a registry file"},
    {"OtherText", Bytes("hello\n"), "modems.reg:1: not a registry file"},
    {"HeaderNotFirst", Bytes("\nREGEDIT4\n"), "modems.reg:1: not a registry file"},
    {"BigEndian", {0xFE, 0xFF, 0, 'R'}, "modems.reg:1: big-endian"},
    {"HalfACharacter", {0xFF, 0xFE, 'R', 0, 'E'}, "modems.reg:1: UTF-16 text ends in half"},
    {"ValueBeforeKey", Bytes("REGEDIT4\n\n\"a\"=\"b\"\n"), "modems.reg:3: value before the first key"},
    {"KeyNotClosed", Bytes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\System\n"), "modems.reg:2: key name is not closed"},
    {"UnknownRoot", Bytes("REGEDIT4\n[HKLM\\System]\n"), "modems.reg:2: unknown root key \"HKLM\""},
    {"Garbage", Bytes("REGEDIT4\n" + kKey + "Model=x\n"), "modems.reg:3: expected a key in [brackets]"},
    {"NameNotClosed", Bytes("REGEDIT4\n" + kKey + "\"Model=\"x\n"), "modems.reg:3: expected '='"},
    {"NoEquals", Bytes("REGEDIT4\n" + kKey + "\"Model\" \"x\"\n"), "modems.reg:3: expected '='"},
    {"StringNotClosed", Bytes("REGEDIT4\n" + kKey + "\"Model\"=\"x\n"), "modems.reg:3: string is not closed"},
    {"TextAfterString", Bytes("REGEDIT4\n" + kKey + "\"Model\"=\"x\"y\n"), "modems.reg:3: unexpected text"},
    {"UnknownData", Bytes("REGEDIT4\n" + kKey + "\"Model\"=42\n"), "modems.reg:3: unknown value data"},
    {"LongDword", Bytes("REGEDIT4\n" + kKey + "\"D\"=dword:123456789\n"), "modems.reg:3: dword value"},
    {"BadHexByte", Bytes("REGEDIT4\n" + kKey + "\"B\"=hex:01,0g\n"), "modems.reg:3: expected ','"},
    {"BadHexOnContinuation", Bytes("REGEDIT4\n" + kKey + "\"B\"=hex:01,\\\n  zz\n"), "modems.reg:4: expected a hex byte"},
    {"ContinuedPastTheEnd", Bytes("REGEDIT4\n" + kKey + "\"B\"=hex:01,\\"), "modems.reg:3: value data continues"},
    {"Utf16LineNumber", Utf16Image("REGEDIT4\r\n" + kKey + "\"ok\"=\"x\"\r\n\"bad\"=\r\n"), "modems.reg:4: unknown"},
};

INSTANTIATE_TEST_SUITE_P(Parse, BadFiles, testing::ValuesIn(kBadFiles),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Values as the "A" registry calls see them ----

TEST(RegistryFile, ServesValuesOfEveryForm)
{
    const std::string text = "REGEDIT4\n"
                             "[HKEY_LOCAL_MACHINE\\Soft\\Key]\n"
                             "@=\"default\"\n"
                             "\"Escaped\"=\"a\\\\b \\\"q\\\"\"\n"
                             "\"Bin\"=hex:01,ff,\\\n   10\n"
                             "\"Empty\"=hex:\n"
                             "\"Dword\"=dword:0000001a\n"
                             "\"Expand\"=hex(2):25,00\n"
                             "\"Twice\"=\"first\"\n"
                             "\"Gone\"=\"x\"\n"
                             "\"Gone\"=-\n"
                             "[HKEY_LOCAL_MACHINE\\Soft\\Key]\n"
                             "\"twice\"=\"second\"\n"
                             "[HKEY_LOCAL_MACHINE\\Other\\Deep\\Leaf]\n"
                             "[HKEY_LOCAL_MACHINE\\Dropped\\Sub]\n"
                             "[-HKEY_LOCAL_MACHINE\\Dropped]\n";
    for (const auto &image : {Bytes(text), Bytes(WithCrLf(text)), Utf16Image(WithCrLf(text))}) {
        RegistryFile f = ParseOrDie(image);
        const std::string k = "hkey_local_machine\\SOFT\\key";
        auto value = [&](const char *name) { return f.Query(k, name); };
        ASSERT_TRUE(value(""));
        EXPECT_EQ(value("")->data, Bytes(std::string("default\0", 8)));
        EXPECT_EQ(value("escaped")->data, Bytes(std::string("a\\b \"q\"\0", 8)));
        EXPECT_EQ(value("Escaped")->type, 1u);
        EXPECT_EQ(value("Bin")->data, (std::vector<std::uint8_t>{0x01, 0xff, 0x10}));
        EXPECT_EQ(value("Bin")->type, 3u);
        EXPECT_TRUE(value("Empty")->data.empty());
        EXPECT_EQ(value("Dword")->data, (std::vector<std::uint8_t>{0x1a, 0, 0, 0}));
        EXPECT_EQ(value("Dword")->type, 4u);
        EXPECT_EQ(value("Expand")->type, 2u);
        EXPECT_EQ(value("TWICE")->data, Bytes(std::string("second\0", 7))) << "the later value wins";
        EXPECT_FALSE(value("Gone")) << "deleted by the file";
        EXPECT_FALSE(value("Missing"));
        EXPECT_TRUE(f.HasKey("HKEY_LOCAL_MACHINE\\Other\\Deep")) << "a parent exists";
        EXPECT_TRUE(f.HasKey("HKEY_LOCAL_MACHINE\\Other"));
        EXPECT_FALSE(f.HasKey("HKEY_LOCAL_MACHINE\\Oth"));
        EXPECT_FALSE(f.HasKey("HKEY_LOCAL_MACHINE\\Dropped\\Sub")) << "deleted by the file";
        EXPECT_FALSE(f.HasKey("HKEY_LOCAL_MACHINE\\Dropped"));
    }
}

TEST(RegistryFile, UnicodeTextReachesTheCallsInTheAnsiCodePage)
{
    RegistryFile f = ParseOrDie(ReadImage(fs::path(DIALTRIM_FIXTURES) / "unicode.reg"));
    EXPECT_EQ(f.encoding(), RegEncoding::Utf16Le);
    EXPECT_EQ(f.format(), RegFormat::Version5);
    const std::string k = kClass + "0000";
    EXPECT_EQ(ValueData(f, k, "Model"), Bytes(std::string("Nuvalt Mod\xe8m \x80 33.6\0", 20)));
    EXPECT_EQ(ValueData(f, k, "FriendlyName"), Bytes(std::string("N\xfcv\0", 4)));
    EXPECT_EQ(ValueData(f, kClass + "0001", "Model"), Bytes(std::string("\xdcnion ?Mega\0", 12)))
        << "a character outside the code page reads as '?'";
}

// ---- Writing values back into the text ----

struct EditCase {
    const char *name;
    std::string before;
    std::string key;  // under HKEY_LOCAL_MACHINE
    std::string value;
    std::string data; // REG_SZ text
    std::string after;
};

void PrintTo(const EditCase &c, std::ostream *os) { *os << c.name; }

class Edits : public testing::TestWithParam<EditCase> {};

TEST_P(Edits, ChangeOnlyTheValueLine)
{
    const EditCase &c = GetParam();
    struct Variant {
        std::vector<std::uint8_t> before, after;
    };
    const Variant variants[] = {
        {Bytes(c.before), Bytes(c.after)},
        {Bytes(WithCrLf(c.before)), Bytes(WithCrLf(c.after))},
        {Utf16Image(WithCrLf(c.before)), Utf16Image(WithCrLf(c.after))},
    };
    for (const auto &v : variants) {
        RegistryFile f = ParseOrDie(v.before);
        EXPECT_EQ(f.Render(), v.before) << "nothing written: the same bytes";
        std::string data = c.data;
        data.push_back('\0');
        ASSERT_TRUE(f.Set("HKEY_LOCAL_MACHINE\\" + c.key, c.value, 1, Bytes(data)));
        std::vector<std::uint8_t> out = f.Render();
        EXPECT_EQ(std::string(out.begin(), out.end()), std::string(v.after.begin(), v.after.end()));
        RegistryFile again = ParseOrDie(out);
        EXPECT_EQ(ValueData(again, "HKEY_LOCAL_MACHINE\\" + c.key, c.value), Bytes(data));
    }
}

const EditCase kEdits[] = {
    {"ReplacedInPlace", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"A\"=\"1\"\n\"DialSuffix\"=\";\"\n\"B\"=\"2\"\n\n",
     "m\\s", "DialSuffix", "", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"A\"=\"1\"\n\"DialSuffix\"=\"\"\n\"B\"=\"2\"\n\n"},
    {"NameSpellingKept", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"dialSUFFIX\" = \"x\"\n", "M\\S", "DialSuffix",
     ";", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"dialSUFFIX\" = \";\"\n"},
    {"ContinuedHexReplacedWhole", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"DialSuffix\"=hex:3b,\\\n  00\n\"B\"=\"2\"\n",
     "M\\S", "DialSuffix", "", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"DialSuffix\"=\"\"\n\"B\"=\"2\"\n"},
    {"AddedAfterTheLastValue", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"A\"=\"1\"\n\n; note\n\n[HKEY_LOCAL_MACHINE\\N]\n",
     "M\\S", "DialSuffix", "", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"A\"=\"1\"\n\"DialSuffix\"=\"\"\n\n; note\n\n[HKEY_LOCAL_MACHINE\\N]\n"},
    {"AddedToAnEmptyKey", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n[HKEY_LOCAL_MACHINE\\N]\n", "M\\S", "DialSuffix", ";",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"DialSuffix\"=\";\"\n[HKEY_LOCAL_MACHINE\\N]\n"},
    {"AddedAfterALastLineWithoutLineEnd", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"A\"=\"1\"", "M\\S", "DialSuffix",
     "", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"A\"=\"1\"\n\"DialSuffix\"=\"\""},
    {"LastOfTwoBlocksWins", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"DialSuffix\"=\"a\"\n[HKEY_LOCAL_MACHINE\\m\\s]\n\"DialSuffix\"=\"b\"\n",
     "M\\S", "DialSuffix", "", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"DialSuffix\"=\"a\"\n[HKEY_LOCAL_MACHINE\\m\\s]\n\"DialSuffix\"=\"\"\n"},
    {"DeletionReplaced", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"DialSuffix\"=-\n", "M\\S", "DialSuffix", "",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"DialSuffix\"=\"\"\n"},
    {"QuotesAndBackslashesEscaped", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"V\"=\"\"\n", "M\\S", "V", "a\"b\\c",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"V\"=\"a\\\"b\\\\c\"\n"},
    {"KeyKnownOnlyAsParentGetsABlock", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S\\Init]\n\"A\"=\"1\"\n", "M\\S", "DialSuffix",
     "", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M\\S\\Init]\n\"A\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\M\\S]\n\"DialSuffix\"=\"\"\n"},
};

INSTANTIATE_TEST_SUITE_P(Write, Edits, testing::ValuesIn(kEdits),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(RegistryFile, OnlyExistingKeysTakeValues)
{
    RegistryFile f = ParseOrDie(std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\M]\n"));
    EXPECT_FALSE(f.Set("HKEY_LOCAL_MACHINE\\M\\S", "DialSuffix", 1, Bytes(std::string("\0\0", 2))));
    EXPECT_FALSE(f.modified());
}

TEST(RegistryFile, NonTextDataIsWrittenInHexForm)
{
    RegistryFile f = ParseOrDie(std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\M]\n\"A\"=\"x\"\n"));
    const std::vector<std::uint8_t> twoTexts = {'a', 0, 'b', 0};
    ASSERT_TRUE(f.Set("HKEY_LOCAL_MACHINE\\M", "A", 1, twoTexts));
    ASSERT_TRUE(f.Set("HKEY_LOCAL_MACHINE\\M", "D", 4, std::vector<std::uint8_t>{1, 2, 0, 0}));
    ASSERT_TRUE(f.Set("HKEY_LOCAL_MACHINE\\M", "B", 3, std::vector<std::uint8_t>{0xAB}));
    std::vector<std::uint8_t> out = f.Render();
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\M]\n\"A\"=hex(1):61,00,62,00\n\"D\"=dword:00000201\n\"B\"=hex:ab\n");
    EXPECT_EQ(ValueData(ParseOrDie(out), "HKEY_LOCAL_MACHINE\\M", "A"), twoTexts);
}

// ---- The round trip of a run over every fixture file ----

// The lines of an image, each with its line end, as code units.
std::vector<std::u16string> Lines(const std::vector<std::uint8_t> &image)
{
    std::u16string units;
    if (image.size() >= 2 && image[0] == 0xFF && image[1] == 0xFE) {
        for (std::size_t i = 2; i + 1 < image.size(); i += 2)
            units.push_back(static_cast<char16_t>(image[i] | (image[i + 1] << 8)));
    } else {
        units.assign(image.begin(), image.end());
    }
    std::vector<std::u16string> lines;
    std::size_t p = 0;
    while (p < units.size()) {
        std::size_t lf = units.find(u'\n', p);
        std::size_t next = lf == std::u16string::npos ? units.size() : lf + 1;
        lines.push_back(units.substr(p, next - p));
        p = next;
    }
    return lines;
}

bool IsDialSuffixLine(const std::u16string &line)
{
    std::string folded;
    for (char16_t c : line)
        folded.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    folded = FoldName(folded);
    return folded.find_first_not_of(" \t") != std::string::npos &&
           folded.compare(folded.find_first_not_of(" \t"), 13, "\"dialsuffix\"=") == 0;
}

// The lines without the DialSuffix values (and their continuation lines),
// the line end of each line moved to the following line so that a value
// added after a last line without line end counts as that value alone.
std::vector<std::u16string> WithoutDialSuffix(const std::vector<std::u16string> &lines)
{
    std::vector<std::u16string> out;
    bool continued = false;
    for (const auto &line : lines) {
        std::u16string content = line;
        while (!content.empty() && (content.back() == u'\n' || content.back() == u'\r'))
            content.pop_back();
        bool drop = continued || IsDialSuffixLine(line);
        continued = drop && !content.empty() && content.back() == u'\\';
        if (!drop)
            out.push_back(content);
    }
    return out;
}

struct Fixture {
    const char *name;
    const char *file;
    enum Variant { AsIs, Lf, CrLf, Unicode } variant;
};

void PrintTo(const Fixture &c, std::ostream *os) { *os << c.name; }

std::vector<std::uint8_t> FixtureImage(const Fixture &f)
{
    std::vector<std::uint8_t> image = ReadImage(fs::path(DIALTRIM_FIXTURES) / f.file);
    std::string text(image.begin(), image.end());
    std::string lf;
    for (char c : text)
        if (c != '\r')
            lf += c;
    switch (f.variant) {
    case Fixture::AsIs:
        return image;
    case Fixture::Lf:
        return Bytes(lf);
    case Fixture::CrLf:
        return Bytes(WithCrLf(lf));
    case Fixture::Unicode:
        return Utf16Image(WithCrLf(lf));
    }
    return image;
}

class RoundTrip : public testing::TestWithParam<Fixture> {};

TEST_P(RoundTrip, ARunChangesOnlyTheDialSuffixValuesItWrote)
{
    const std::vector<std::uint8_t> before = FixtureImage(GetParam());
    for (bool reset : {false, true}) {
        RegistryFile file = ParseOrDie(before);
        ASSERT_EQ(file.Render(), before);
        RunResult r = RunProgram(&file, reset ? std::vector<std::string>{"/u"} : std::vector<std::string>{});
        ASSERT_FALSE(r.Sets().empty()) << "every fixture has a Nuvalt modem";
        const std::vector<std::uint8_t> after = file.Render();

        // Apart from the DialSuffix values, line for line the same text,
        // line ends and encoding included.
        EXPECT_EQ(WithoutDialSuffix(Lines(after)), WithoutDialSuffix(Lines(before)));
        std::vector<std::u16string> afterLines = Lines(after), beforeLines = Lines(before);
        if (!afterLines.empty() && !beforeLines.empty()) {
            EXPECT_EQ(afterLines.front(), beforeLines.front()) << "the header and its line end";
        }
        EXPECT_EQ(after.size() >= 2 && after[0] == 0xFF, before.size() >= 2 && before[0] == 0xFF);

        // The values written hold what the run wrote; every other DialSuffix
        // reads as before.
        RegistryFile reread = ParseOrDie(after);
        RegistryFile original = ParseOrDie(before);
        const std::vector<std::uint8_t> wanted = reset ? Bytes(std::string(";\0", 2)) : Bytes(std::string("\0", 1));
        for (int i = 0; i < 20; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "%04d", i);
            std::string settings = kClass + name + "\\Settings";
            const std::vector<const RegCall *> sets = r.Sets();
            bool written = std::any_of(sets.begin(), sets.end(), [&](const RegCall *c) {
                return FoldName(c->path) == FoldName(settings);
            });
            if (written)
                EXPECT_EQ(ValueData(reread, settings, "DialSuffix"), wanted) << settings;
            else
                EXPECT_EQ(ValueData(reread, settings, "DialSuffix"), ValueData(original, settings, "DialSuffix"))
                    << settings;
        }
    }
}

const Fixture kFixtures[] = {
    {"Win95CrLf", "win95.reg", Fixture::AsIs},
    {"Win95Lf", "win95.reg", Fixture::Lf},
    {"Win95Unicode", "win95.reg", Fixture::Unicode},
    {"MixedLfNoFinalLineEnd", "mixed.reg", Fixture::AsIs},
    {"MixedCrLf", "mixed.reg", Fixture::CrLf},
    {"MixedUnicode", "mixed.reg", Fixture::Unicode},
    {"UnicodeCrLf", "unicode.reg", Fixture::AsIs},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, RoundTrip, testing::ValuesIn(kFixtures),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(RoundTrip, Win95FixtureWritesTheExpectedLines)
{
    RegistryFile file = ParseOrDie(ReadImage(fs::path(DIALTRIM_FIXTURES) / "win95.reg"));
    RunResult r = RunProgram(&file, {});
    EXPECT_EQ(r.output, kBanner +
                            "NUVALT THINPOCKET MODEM has had DialSuffix removed\n"
                            "NUVALT POCKET \"FAX\" 14400 has had DialSuffix removed\n"
                            "Press any key to continue ...\n");
    std::vector<std::uint8_t> out = file.Render();
    std::string text(out.begin(), out.end());
    EXPECT_NE(text.find("\"Prefix\"=\"AT\"\r\n\"DialSuffix\"=\"\"\r\n\"Terminator\"=\"<cr>\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"Terminator\"=\"<cr>\"\r\n\"DialSuffix\"=\"\"\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\"
                        "CurrentControlSet\\Services\\Class\\Ports]"),
              std::string::npos);
}

// ---- Saving ----

class Save : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("dialtrim-save-" + std::to_string(::getpid()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }
    fs::path dir_;
};

TEST_F(Save, ReplacesTheFileKeepingItsPermissions)
{
    fs::path path = dir_ / "modems.reg";
    WriteImage(path, Bytes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\M]\n\"DialSuffix\"=\";\"\n"));
    ::chmod(path.c_str(), 0640);
    std::string error;
    auto f = RegistryFile::Load(path, error);
    ASSERT_TRUE(f) << error;
    f->Set("HKEY_LOCAL_MACHINE\\M", "DialSuffix", 1, Bytes(std::string("\0\0", 2)));
    ASSERT_TRUE(f->Save(path, error)) << error;
    EXPECT_EQ(ReadImage(path), Bytes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\M]\n\"DialSuffix\"=\"\"\n"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(), 1u) << "no temporary file left";
}

TEST_F(Save, FollowsASymbolicLinkToTheFile)
{
    fs::path real = dir_ / "real.reg", link = dir_ / "link.reg";
    WriteImage(real, Bytes("REGEDIT4\n[HKEY_LOCAL_MACHINE\\M]\n"));
    fs::create_symlink(real, link);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(link, Bytes("new"), error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadImage(real), Bytes("new"));
}

TEST_F(Save, FailureNamesTheFileAndLeavesNothing)
{
    std::string error;
    fs::path path = dir_ / "missing-dir" / "modems.reg";
    EXPECT_FALSE(WriteFileAtomically(path, Bytes("x"), error));
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_EQ(Entries(), 0u);
}

TEST_F(Save, LoadNamesAMissingFile)
{
    std::string error;
    EXPECT_FALSE(RegistryFile::Load(dir_ / "none.reg", error));
    EXPECT_NE(error.find("none.reg: cannot open: No such file"), std::string::npos) << error;
}

} // namespace
} // namespace dialtrim::test
