// The cross-built images as their platforms' loaders see them: PE headers,
// entry point, imports, section rights, relocations and the version
// resource, read from the files themselves.
#include "pe_image.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Imports = std::vector<std::pair<std::string, std::vector<std::string>>>;

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kSubsystemNative = 1;
constexpr std::uint16_t kSubsystemConsole = 3;
constexpr std::uint16_t kFileRelocsStripped = 0x0001;
constexpr std::uint16_t kFileExecutable = 0x0002;
constexpr std::uint16_t kFileDll = 0x2000;
constexpr std::uint16_t kFile32Bit = 0x0100;
constexpr std::uint32_t kResourceVersion = 16;
constexpr std::uint32_t kLangUsEnglish = 0x0409;

struct ImageCase {
    const char *label;
    const char *path;
    const char *map;
    const char *entrySymbol;
    std::uint16_t subsystem;
    std::uint16_t major, minor; // OS and subsystem version
    Imports imports; // per DLL, names in any order
};

// The twelve kernel and HAL operations the driver calls, and nothing else.
const Imports kDriverImports = {
    {"hal.dll", {"HalTranslateBusAddress", "KeStallExecutionProcessor", "READ_PORT_UCHAR", "WRITE_PORT_UCHAR"}},
    {"ntoskrnl.exe",
     {"DbgPrint", "IoCreateDevice", "IoCreateSymbolicLink", "IoDeleteDevice", "IoDeleteSymbolicLink",
      "MmMapIoSpace", "RtlInitUnicodeString", "RtlQueryRegistryValues"}},
};

// Calls that the first release of Windows 95 provides; nothing of a C
// runtime.
const Imports kDialtrimImports = {
    {"ADVAPI32.DLL", {"RegCloseKey", "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA"}},
    {"KERNEL32.DLL",
     {"CloseHandle", "CreateFileA", "ExitProcess", "GetCommandLineA", "GetConsoleMode", "GetStdHandle",
      "GetVersionExA", "ReadConsoleInputA", "SetConsoleMode", "WriteFile"}},
    {"USER32.DLL", {"wsprintfA", "wvsprintfA"}},
};

void PrintTo(const ImageCase &c, std::ostream *os) { *os << c.label; }

std::vector<ImageCase> Cases()
{
    std::vector<ImageCase> cases;
#ifdef MODEM_SYS
    cases.push_back({"MODEM.SYS", MODEM_SYS, MODEM_MAP, "DriverEntry@8", kSubsystemNative, 3, 51,
                     kDriverImports});
#endif
#ifdef MODEM_TRACE_SYS
    cases.push_back({"MODEM-TRACE.SYS", MODEM_TRACE_SYS, MODEM_TRACE_MAP, "DriverEntry@8",
                     kSubsystemNative, 3, 51, kDriverImports});
#endif
#ifdef DIALTRIM_EXE
    cases.push_back({"DIALTRIM.EXE", DIALTRIM_EXE, DIALTRIM_MAP, "DtStartup", kSubsystemConsole, 4, 0,
                     kDialtrimImports});
#endif
    return cases;
}

// The kernel images, which the loader relocates and which carry the
// version resource.
std::vector<ImageCase> DriverCases()
{
    std::vector<ImageCase> cases;
    for (const ImageCase &c : Cases())
        if (c.subsystem == kSubsystemNative)
            cases.push_back(c);
    return cases;
}

class ImageTest : public testing::TestWithParam<ImageCase> {
protected:
    void SetUp() override
    {
        std::string error;
        auto loaded = pe::Load(GetParam().path, error);
        ASSERT_TRUE(loaded) << GetParam().path << ": " << error;
        image = std::move(*loaded);
    }
    pe::Image image;
};

TEST_P(ImageTest, HeadersNameThePlatform)
{
    const ImageCase &c = GetParam();
    EXPECT_EQ(image.machine, kMachineI386);
    EXPECT_EQ(image.magic, 0x10B); // PE32
    EXPECT_EQ(image.subsystem, c.subsystem);
    EXPECT_EQ(image.osMajor, c.major);
    EXPECT_EQ(image.osMinor, c.minor);
    EXPECT_EQ(image.subsystemMajor, c.major);
    EXPECT_EQ(image.subsystemMinor, c.minor);
    EXPECT_TRUE(image.fileCharacteristics & kFileExecutable);
    EXPECT_TRUE(image.fileCharacteristics & kFile32Bit);
    EXPECT_FALSE(image.fileCharacteristics & kFileDll);
    EXPECT_EQ(image.sectionAlignment, 0x1000u);
    EXPECT_EQ(image.fileAlignment, 0x200u);
    EXPECT_EQ(image.imageBase % 0x10000, 0u);
    EXPECT_EQ(image.sizeOfImage % image.sectionAlignment, 0u);
    EXPECT_EQ(image.checkSum, pe::ComputeCheckSum(image)) << "the loader checks a driver's checksum";
}

TEST_P(ImageTest, EntryPointIsTheEntryRoutine)
{
    const ImageCase &c = GetParam();
    auto address = pe::MapSymbol(c.map, c.entrySymbol);
    ASSERT_TRUE(address) << c.entrySymbol << " not in " << c.map;
    EXPECT_EQ(image.entryPoint, *address - image.imageBase);
    const pe::Section *s = image.SectionAt(image.entryPoint);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->characteristics & pe::kSectionExecute) << s->name;
}

TEST_P(ImageTest, ImportsExactlyTheCallsItMakes)
{
    std::string error;
    Imports got = pe::Imports(image, error);
    ASSERT_EQ(error, "");
    for (auto &[dll, names] : got)
        std::sort(names.begin(), names.end());
    std::sort(got.begin(), got.end());
    Imports want = GetParam().imports;
    for (auto &[dll, names] : want)
        std::sort(names.begin(), names.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}

TEST_P(ImageTest, NoSectionIsWritableAndExecutable)
{
    ASSERT_FALSE(image.sections.empty());
    for (const pe::Section &s : image.sections) {
        EXPECT_FALSE((s.characteristics & pe::kSectionWrite) && (s.characteristics & pe::kSectionExecute))
            << s.name;
        if (s.characteristics & pe::kSectionExecute) {
            EXPECT_TRUE(s.characteristics & pe::kSectionCode) << s.name;
        }
        EXPECT_EQ(s.virtualAddress % image.sectionAlignment, 0u) << s.name;
    }
}

class DriverImageTest : public ImageTest {};

TEST_P(DriverImageTest, RelocationsKeptForTheLoaderToPlaceIt)
{
    EXPECT_FALSE(image.fileCharacteristics & kFileRelocsStripped);
    pe::DataDirectory dir = image.directories[pe::kDirBaseReloc];
    ASSERT_GT(dir.size, 8u);
    ASSERT_TRUE(image.Offset(dir.rva, dir.size));
    // Walk the blocks: each covers one page, and every entry is a 32-bit
    // fixup (type 3) or padding (type 0) inside the image.
    std::uint32_t at = dir.rva;
    std::uint32_t fixups = 0;
    while (at < dir.rva + dir.size) {
        auto off = image.Offset(at, 8);
        ASSERT_TRUE(off);
        const auto &b = image.bytes;
        std::uint32_t page = b[*off] | b[*off + 1] << 8 | b[*off + 2] << 16 | b[*off + 3] << 24;
        std::uint32_t size = b[*off + 4] | b[*off + 5] << 8 | b[*off + 6] << 16 | b[*off + 7] << 24;
        ASSERT_GE(size, 8u);
        ASSERT_EQ(size % 2, 0u);
        ASSERT_TRUE(image.Offset(at, size));
        for (std::uint32_t e = 8; e < size; e += 2) {
            std::uint16_t entry = static_cast<std::uint16_t>(b[*off + e] | b[*off + e + 1] << 8);
            int type = entry >> 12;
            ASSERT_TRUE(type == 3 || type == 0) << "fixup type " << type;
            if (type == 3) {
                ++fixups;
                EXPECT_LT(page + (entry & 0xFFF) + 4, image.sizeOfImage + 1);
            }
        }
        at += size;
    }
    EXPECT_GT(fixups, 0u);
}

std::u16string U16(const char *text)
{
    std::u16string s;
    for (; *text; ++text)
        s += static_cast<char16_t>(static_cast<unsigned char>(*text));
    return s;
}

// UTF-16LE bytes of a text and its terminator.
std::vector<std::uint8_t> TextBytes(const char *text)
{
    std::vector<std::uint8_t> out;
    for (char16_t c : U16(text)) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<std::uint8_t> Le32(std::initializer_list<std::uint32_t> words)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return out;
}

TEST_P(DriverImageTest, VersionResourceAsShipped)
{
    std::string error;
    auto data = pe::Resource(image, kResourceVersion, 1, kLangUsEnglish, error);
    ASSERT_TRUE(data) << error;
    auto root = pe::ParseVersion(*data, error);
    ASSERT_TRUE(root) << error;

    EXPECT_EQ(root->key, U16("VS_VERSION_INFO"));
    EXPECT_EQ(root->type, 0);
    // Signature, structure version 1.0, file and product version 1.0.12.0,
    // flags mask, flags, OS, type, subtype and date all 0.
    EXPECT_EQ(root->value, Le32({0xFEEF04BD, 0x00010000, 0x00010000, 0x000C0000, 0x00010000, 0x000C0000, 0,
                                 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(root->children.size(), 2u);

    const pe::VersionNode &sfi = root->children[0];
    EXPECT_EQ(sfi.key, U16("StringFileInfo"));
    EXPECT_EQ(sfi.valueLength, 0);
    ASSERT_EQ(sfi.children.size(), 1u);
    const pe::VersionNode &table = sfi.children[0];
    EXPECT_EQ(table.key, U16("040904B0"));
    EXPECT_EQ(table.valueLength, 0);

    struct Entry {
        const char *key;
        const char *text;
    };
    const Entry want[] = {
        {"CompanyName", "Nuvalt Corporation"},
        {"FileDescription", "ThinPocket Modem Enabler"},
        {"FileVersion", "v1.12"},
        {"InternalName", "MODEM.SYS Build 052"},
        {"LegalCopyright", "Copyright (C) Nuvalt Corporation 1995"},
        {"OriginalFilename", "MODEM.SYS"},
        {"ProductName", "Nuvalt ThinPocket Modem"},
        {"ProductVersion", "v1.12"},
    };
    ASSERT_EQ(table.children.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const pe::VersionNode &n = table.children[i];
        SCOPED_TRACE(want[i].key);
        EXPECT_EQ(n.key, U16(want[i].key));
        EXPECT_EQ(n.type, 1);
        EXPECT_EQ(n.value, TextBytes(want[i].text));
        EXPECT_EQ(n.valueLength, std::char_traits<char>::length(want[i].text) + 1);
        EXPECT_TRUE(n.children.empty());
    }

    const pe::VersionNode &vfi = root->children[1];
    EXPECT_EQ(vfi.key, U16("VarFileInfo"));
    ASSERT_EQ(vfi.children.size(), 1u);
    const pe::VersionNode &tr = vfi.children[0];
    EXPECT_EQ(tr.key, U16("Translation"));
    EXPECT_EQ(tr.type, 0);
    EXPECT_EQ(tr.value, (std::vector<std::uint8_t>{0x09, 0x04, 0xB0, 0x04}));
}

std::string CaseName(const testing::TestParamInfo<ImageCase> &info)
{
    std::string name;
    for (const char *p = info.param.label; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Images, ImageTest, testing::ValuesIn(Cases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Images, DriverImageTest, testing::ValuesIn(DriverCases()), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ImageTest);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DriverImageTest);

// Stands in for the image cases when the cross tools were missing at
// configure time, so the run says why nothing was checked.
TEST(ImagesBuilt, CrossToolchainPresent)
{
    if (Cases().empty())
        GTEST_SKIP() << "i686-w64-mingw32 tools were not found when the build was configured";
#if defined(MODEM_SYS) != defined(DIALTRIM_EXE)
    ADD_FAILURE() << "only one of MODEM.SYS and DIALTRIM.EXE is built";
#endif
}

} // namespace
