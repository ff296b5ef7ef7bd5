// MODEM.SYS run by modemsim32 on the simulated PC: for every machine file
// and Debug level its report equals the host-built driver's; the default
// image writes no trace and the trace image does; broken images are
// refused before anything runs; and the platform structures of the 32-bit
// build have the x86 platform's layouts.
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) out.push_back(item);
    return out;
}

// Images for Debug 0, 1 and 2, and the build's default and trace images.
const std::vector<std::string> kDebugImages = split_list(DEBUG_IMAGES);
const std::vector<std::string> kDefaultImages = split_list(DEFAULT_IMAGES);

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& s) { return "'" + s + "'"; }

Result run(const std::string& program, const std::vector<std::string>& args) {
    static int serial = 0;
    const fs::path err_file = fs::temp_directory_path() /
                              ("image-run-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".err");
    std::string cmd = quoted(program);
    for (const std::string& a : args) cmd += " " + quoted(a);
    cmd += " 2>" + quoted(err_file.string());
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) r.out.append(buf.data(), n);
    const int w = pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    std::ifstream e(err_file);
    r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    fs::remove(err_file);
    return r;
}

Json report_of(const Result& r) {
    EXPECT_EQ(r.status, 0) << r.err;
    if (r.status != 0) return Json();
    return Json::parse(r.out);
}

// The record's pointer-sized field where the driver left it unwritten (the
// controller's port was not translated): the 64-bit host build shows eight
// bytes of the extension's fill there, the x86 image four.
void to_x86_pointer_width(Json& report) {
    if (!report.contains("record") || !report["record"].is_object()) return;
    if (report["record"]["PcicPort"] == 0xA5A5A5A5A5A5A5A5ull) report["record"]["PcicPort"] = 0xA5A5A5A5u;
}

std::vector<std::string> machine_files() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(MACHINES_DIR))
        if (e.path().extension() == ".toml") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// ---- The image against the host-built driver ----

struct Case {
    std::string machine;
    unsigned debug;
};

void PrintTo(const Case& c, std::ostream* os) { *os << fs::path(c.machine).filename().string() << " Debug " << c.debug; }

class ImageMatchesHostBuild : public testing::TestWithParam<Case> {};

// The image run of a machine file and Debug level against the host-built
// driver's run, in the 64-bit build and in modemsim32.
void expect_image_matches_host_build(const Case& c) {
    const std::vector<std::string> host_args = {c.machine, "--debug", std::to_string(c.debug), "--json", "--unload"};
    Json host = report_of(run(MODEMSIM, host_args));
    Json host32 = report_of(run(MODEMSIM32, host_args)); // the host-built driver in the 32-bit build
    Json image = report_of(run(MODEMSIM32, {"--image", kDebugImages[c.debug], c.machine, "--json", "--unload"}));
    ASSERT_FALSE(host.is_null());
    ASSERT_FALSE(host32.is_null());
    ASSERT_FALSE(image.is_null());
    if (image.contains("record")) {
        ASSERT_EQ(image["record"]["Debug"], c.debug) << "the image was not built with this Debug level";
    }
    EXPECT_EQ(image, host32) << "the image and the same sources built into modemsim32 differ";
    to_x86_pointer_width(host);
    for (const auto& [key, value] : host.items()) EXPECT_EQ(image[key], value) << "field " << key;
    EXPECT_EQ(image.size(), host.size());
}

TEST_P(ImageMatchesHostBuild, ReportFieldForField) {
    if (kDebugImages.size() != 3) GTEST_SKIP() << "MODEM.SYS is not built";
    expect_image_matches_host_build(GetParam());
}

std::vector<Case> all_cases() {
    std::vector<Case> out;
    for (const std::string& m : machine_files())
        for (unsigned d : {0u, 1u, 2u}) out.push_back({m, d});
    return out;
}

INSTANTIATE_TEST_SUITE_P(MachinesAndDebugLevels, ImageMatchesHostBuild, testing::ValuesIn(all_cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string name = fs::path(info.param.machine).stem().string();
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name + "_debug" + std::to_string(info.param.debug);
                         });

// The real cards of Debian's firmware-linux-free, each the card of the
// typical machine's first socket.
const fs::path kFirmware = "/lib/firmware/cis";

class FirmwareCardImageMatchesHostBuild : public testing::TestWithParam<Case> {};

TEST_P(FirmwareCardImageMatchesHostBuild, ReportFieldForField) {
    if (kDebugImages.size() != 3) GTEST_SKIP() << "MODEM.SYS is not built";
    const fs::path cis = GetParam().machine;
    const fs::path machine = fs::temp_directory_path() /
                             ("image-run-" + std::to_string(getpid()) + "-" + cis.stem().string() + ".toml");
    std::ofstream(machine) << "name = \"firmware card " << cis.filename().string() << "\"\n"
                           << "[[controller]]\nport = 0x3E0\nid = 0x82\n"
                           << "[[socket]]\ncontroller = 0x3E0\nbank = 0\ncard = \"" << cis.string() << "\"\n"
                           << "[[socket]]\ncontroller = 0x3E0\nbank = 1\ncard = \"none\"\n";
    expect_image_matches_host_build({machine.string(), GetParam().debug});
    fs::remove(machine);
}

std::vector<Case> firmware_cases() {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(kFirmware, ec))
        if (e.path().extension() == ".cis") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    std::vector<Case> out;
    for (const std::string& f : files)
        for (unsigned d : {0u, 1u, 2u}) out.push_back({f, d});
    return out;
}

INSTANTIATE_TEST_SUITE_P(DebianCards, FirmwareCardImageMatchesHostBuild, testing::ValuesIn(firmware_cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string name = fs::path(info.param.machine).stem().string();
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name + "_debug" + std::to_string(info.param.debug);
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FirmwareCardImageMatchesHostBuild);

TEST(ImageRun, FirmwareCardsAreThere) {
    EXPECT_FALSE(firmware_cases().empty()) << kFirmware << " holds no .cis file: scripts/install-deps.sh installs firmware-linux-free";
}

TEST(ImageRun, ModemsimHandsTheImageToModemsim32) {
    if (kDebugImages.size() != 3) GTEST_SKIP() << "MODEM.SYS is not built";
    const std::string machine = std::string(MACHINES_DIR) + "/typical-boot.toml";
    const Result direct = run(MODEMSIM32, {"--image", kDebugImages[1], machine, "--json"});
    const Result handed = run(MODEMSIM, {"--image", kDebugImages[1], machine, "--json"});
    ASSERT_EQ(handed.status, 0) << handed.err;
    EXPECT_EQ(Json::parse(handed.out), Json::parse(direct.out));
}

TEST(ImageRun, DefaultImageWritesNoTraceAndTraceImageDoes) {
    if (kDefaultImages.size() != 2) GTEST_SKIP() << "MODEM.SYS is not built";
    for (const char* machine : {"typical-boot.toml", "traced-boot.toml", "no-card.toml"}) {
        SCOPED_TRACE(machine);
        const std::string path = std::string(MACHINES_DIR) + "/" + machine;
        const Json quiet = report_of(run(MODEMSIM32, {"--image", kDefaultImages[0], path, "--json", "--unload"}));
        const Json traced = report_of(run(MODEMSIM32, {"--image", kDefaultImages[1], path, "--json", "--unload"}));
        ASSERT_FALSE(quiet.is_null());
        ASSERT_FALSE(traced.is_null());
        EXPECT_EQ(quiet["trace"], "");
        EXPECT_EQ(quiet["record"]["Debug"], 0);
        EXPECT_NE(traced["record"]["Debug"], 0);
        EXPECT_NE(traced["trace"].get<std::string>().find("Nuvalt: "), std::string::npos) << traced["trace"];
        EXPECT_EQ(traced["status"], quiet["status"]);
        EXPECT_EQ(traced["ports"], quiet["ports"]);
        EXPECT_TRUE(traced["unload"]["link_removed"]);
    }
}

// ---- Broken images ----

std::vector<std::uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { std::memcpy(b.data() + at, &v, 2); }

// Where the headers of a PE32 file are.
struct Layout {
    std::size_t pe;       // PE signature
    std::size_t optional; // optional header
    std::size_t sections; // section table
    unsigned section_count;
    std::size_t directory(unsigned index) const { return optional + 96 + index * 8; }
    std::size_t section(unsigned i) const { return sections + i * 40; }
};

Layout layout_of(const std::vector<std::uint8_t>& b) {
    Layout l;
    l.pe = u32(b, 0x3C);
    l.optional = l.pe + 24;
    l.section_count = b[l.pe + 6] | b[l.pe + 7] << 8;
    l.sections = l.optional + (b[l.pe + 20] | b[l.pe + 21] << 8);
    return l;
}

std::size_t offset_of_rva(const std::vector<std::uint8_t>& b, std::uint32_t rva) {
    const Layout l = layout_of(b);
    for (unsigned i = 0; i < l.section_count; ++i) {
        const std::uint32_t va = u32(b, l.section(i) + 12), raw = u32(b, l.section(i) + 16);
        if (rva >= va && rva < va + raw) return u32(b, l.section(i) + 20) + (rva - va);
    }
    ADD_FAILURE() << "RVA not in the file: " << rva;
    return 0;
}

std::size_t section_named(const std::vector<std::uint8_t>& b, const char* name) {
    const Layout l = layout_of(b);
    for (unsigned i = 0; i < l.section_count; ++i)
        if (std::strncmp(reinterpret_cast<const char*>(b.data() + l.section(i)), name, 8) == 0) return l.section(i);
    ADD_FAILURE() << "no section " << name;
    return 0;
}

void replace_text(std::vector<std::uint8_t>& b, const std::string& from, const std::string& to) {
    ASSERT_EQ(from.size(), to.size());
    const std::string key = from + '\0';
    auto it = std::search(b.begin(), b.end(), key.begin(), key.end());
    ASSERT_NE(it, b.end()) << "no " << from << " in the image";
    std::copy(to.begin(), to.end(), it);
}

// The first import lookup entry (and address table entry) of the first DLL.
void import_first_by_ordinal(std::vector<std::uint8_t>& b) {
    const Layout l = layout_of(b);
    const std::size_t descriptor = offset_of_rva(b, u32(b, l.directory(1)));
    for (std::size_t field : {0u, 16u}) put32(b, offset_of_rva(b, u32(b, descriptor + field)), 0x80000005u);
}

struct Breakage {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> patch;
    const char* message; // what the refusal must say
};

const Breakage kBreakages[] = {
    {"unknown import", [](auto& b) { replace_text(b, "MmMapIoSpace", "KeBugCheckEx"); },
     "imports KeBugCheckEx from ntoskrnl.exe, which the simulated platform does not provide"},
    {"unknown DLL", [](auto& b) { replace_text(b, "hal.dll", "usb.dll"); },
     "from usb.dll, a DLL the simulated platform does not provide"},
    {"import by ordinal", import_first_by_ordinal, "imports ordinal 5 from hal.dll"},
    {"no relocation directory",
     [](auto& b) {
         const Layout l = layout_of(b);
         put32(b, l.directory(5), 0);
         put32(b, l.directory(5) + 4, 0);
     },
     "no base relocation directory"},
    {"relocations stripped", [](auto& b) { b[layout_of(b).pe + 22] |= 0x01; }, "relocations were stripped"},
    {"unknown relocation type",
     [](auto& b) {
         const std::size_t block = offset_of_rva(b, u32(b, layout_of(b).directory(5)));
         b[block + 9] = static_cast<std::uint8_t>((b[block + 9] & 0x0F) | 0xA0); // first entry: type 10
     },
     "base relocation of type 10"},
    {"section cut short", [](auto& b) { b.resize(u32(b, section_named(b, ".text") + 20) + 0x100); },
     "the file is truncated: section .text"},
    {"last byte missing", [](auto& b) { b.pop_back(); }, "the file is truncated: section"},
    {"headers cut short", [](auto& b) { b.resize(layout_of(b).optional + 40); }, "the file is truncated"},
    {"wrong machine", [](auto& b) { put16(b, layout_of(b).pe + 4, 0x8664); }, "built for machine 0x8664, not for x86"},
    {"no MZ signature", [](auto& b) { b[0] = 'Z'; }, "does not start with the MZ signature"},
    {"no PE signature", [](auto& b) { b[layout_of(b).pe] = 'X'; }, "no PE signature"},
    {"64-bit optional header", [](auto& b) { put16(b, layout_of(b).optional, 0x20B); },
     "magic is 0x20B, not that of a 32-bit image"},
    {"writable code", [](auto& b) { b[section_named(b, ".text") + 39] |= 0x80; },
     "section .text is both writable and executable"},
    {"entry point in data", [](auto& b) { put32(b, layout_of(b).optional + 16, u32(b, section_named(b, ".rdata") + 12)); },
     "entry point at RVA"},
    {"section past the image size",
     [](auto& b) {
         const std::size_t s = section_named(b, ".text");
         put32(b, s + 8, u32(b, layout_of(b).optional + 56));
     },
     "past the image size"},
};

class BrokenImage : public testing::TestWithParam<Breakage> {};

TEST_P(BrokenImage, IsRefusedBeforeAnythingRuns) {
    if (kDefaultImages.empty()) GTEST_SKIP() << "MODEM.SYS is not built";
    std::vector<std::uint8_t> bytes = read_bytes(kDefaultImages[0]);
    ASSERT_GT(bytes.size(), 0x400u);
    GetParam().patch(bytes);
    if (testing::Test::HasFatalFailure()) return;
    const fs::path broken = fs::temp_directory_path() / ("broken-" + std::to_string(getpid()) + ".sys");
    std::ofstream(broken, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()));
    const std::string machine = std::string(MACHINES_DIR) + "/typical-boot.toml";
    for (const char* program : {MODEMSIM32, MODEMSIM}) {
        SCOPED_TRACE(program);
        const Result r = run(program, {"--image", broken.string(), machine, "--json"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "") << "a report was written: the image ran";
        EXPECT_NE(r.err.find("modemsim: cannot load image " + broken.string() + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    }
    fs::remove(broken);
}

INSTANTIATE_TEST_SUITE_P(Table, BrokenImage, testing::ValuesIn(kBreakages),
                         [](const testing::TestParamInfo<Breakage>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST(ImageRun, DllNamesMatchRegardlessOfCase) {
    if (kDefaultImages.empty()) GTEST_SKIP() << "MODEM.SYS is not built";
    std::vector<std::uint8_t> bytes = read_bytes(kDefaultImages[0]);
    replace_text(bytes, "hal.dll", "HAL.DLL");
    replace_text(bytes, "ntoskrnl.exe", "NTOSKRNL.EXE");
    const fs::path upper = fs::temp_directory_path() / ("upper-" + std::to_string(getpid()) + ".sys");
    std::ofstream(upper, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    const std::string machine = std::string(MACHINES_DIR) + "/typical-boot.toml";
    const Json as_built = report_of(run(MODEMSIM32, {"--image", kDefaultImages[0], machine, "--json"}));
    const Json renamed = report_of(run(MODEMSIM32, {"--image", upper.string(), machine, "--json"}));
    EXPECT_EQ(renamed, as_built);
    fs::remove(upper);
}

// Each section mapped with the protection its header asks for: code read and
// execute, data read and write, the rest (and the headers) read only.
TEST(ImageRun, SectionsAreMappedWithTheirProtection) {
    if (kDefaultImages.empty()) GTEST_SKIP() << "MODEM.SYS is not built";
    const std::vector<std::uint8_t> bytes = read_bytes(kDefaultImages[0]);
    const Layout l = layout_of(bytes);
    std::string expected = "headers r--\n";
    for (unsigned i = 0; i < l.section_count; ++i) {
        const std::uint32_t flags = u32(bytes, l.section(i) + 36);
        char name[9] = {};
        std::memcpy(name, bytes.data() + l.section(i), 8);
        const char* prot = (flags & 0x20000020u) ? "r-x" : (flags & 0x80000000u) ? "rw-" : "r--";
        expected += std::string("section ") + name + " " + prot + "\n";
    }
    const Result r = run(IMAGE_MAP_CHECK, {kDefaultImages[0]});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    EXPECT_NE(r.out.find("section .text r-x\n"), std::string::npos);
}

TEST(ImageRun, MissingOrUnreadableImage) {
    const Result none = run(MODEMSIM32, {"--image", "/nonexistent/MODEM.SYS"});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("cannot read image /nonexistent/MODEM.SYS"), std::string::npos) << none.err;
    const Result no_path = run(MODEMSIM32, {"--image"});
    EXPECT_EQ(no_path.status, 2);
    EXPECT_NE(no_path.err.find("--image needs a path"), std::string::npos) << no_path.err;
}

// ---- Structure layouts of the 32-bit build ----

// The x86 platform's published layouts of what the driver and the platform
// reach, and CmExtension as the image lays it out: offset and size.
const std::map<std::string, std::pair<unsigned, unsigned>> kPublishedFields = {
    {"DRIVER_OBJECT.Type", {0x00, 2}},
    {"DRIVER_OBJECT.Size", {0x02, 2}},
    {"DRIVER_OBJECT.DeviceObject", {0x04, 4}},
    {"DRIVER_OBJECT.DriverStart", {0x0C, 4}},
    {"DRIVER_OBJECT.DriverSize", {0x10, 4}},
    {"DRIVER_OBJECT.DriverName", {0x1C, 8}},
    {"DRIVER_OBJECT.DriverInit", {0x2C, 4}},
    {"DRIVER_OBJECT.DriverUnload", {0x34, 4}},
    {"DRIVER_OBJECT.MajorFunction", {0x38, 28 * 4}},
    {"DEVICE_OBJECT.Type", {0x00, 2}},
    {"DEVICE_OBJECT.Size", {0x02, 2}},
    {"DEVICE_OBJECT.DriverObject", {0x08, 4}},
    {"DEVICE_OBJECT.NextDevice", {0x0C, 4}},
    {"DEVICE_OBJECT.Characteristics", {0x20, 4}},
    {"DEVICE_OBJECT.DeviceExtension", {0x28, 4}},
    {"DEVICE_OBJECT.DeviceType", {0x2C, 4}},
    {"UNICODE_STRING.Length", {0, 2}},
    {"UNICODE_STRING.MaximumLength", {2, 2}},
    {"UNICODE_STRING.Buffer", {4, 4}},
    {"RTL_QUERY_REGISTRY_TABLE.QueryRoutine", {0, 4}},
    {"RTL_QUERY_REGISTRY_TABLE.Flags", {4, 4}},
    {"RTL_QUERY_REGISTRY_TABLE.Name", {8, 4}},
    {"RTL_QUERY_REGISTRY_TABLE.EntryContext", {12, 4}},
    {"RTL_QUERY_REGISTRY_TABLE.DefaultType", {16, 4}},
    {"RTL_QUERY_REGISTRY_TABLE.DefaultData", {20, 4}},
    {"RTL_QUERY_REGISTRY_TABLE.DefaultLength", {24, 4}},
    {"LARGE_INTEGER.u.LowPart", {0, 4}},
    {"LARGE_INTEGER.u.HighPart", {4, 4}},
    {"LARGE_INTEGER.QuadPart", {0, 8}},
    {"CmExtension.Socket", {0, 4}},
    {"CmExtension.HwMem", {4, 4}},
    {"CmExtension.PcicBusPort", {8, 4}},
    {"CmExtension.ComPort", {12, 4}},
    {"CmExtension.ComIrq", {16, 4}},
    {"CmExtension.AttrMem", {20, 4}},
    {"CmExtension.PcicPort", {24, 4}},
    {"CmExtension.Debug", {28, 4}},
    {"CmExtension.ConfigIndex", {32, 1}},
    {"CmExtension.CorOffset", {34, 2}},
    {"CmExtension.Signature", {36, 24}},
};

const std::map<std::string, unsigned> kPublishedSizes = {
    {"DRIVER_OBJECT", 0xA8}, {"UNICODE_STRING", 8}, {"RTL_QUERY_REGISTRY_TABLE", 28}, {"LARGE_INTEGER", 8},
    {"PHYSICAL_ADDRESS", 8}, {"CmExtension", 60},   {"PVOID", 4},                   {"ULONG", 4},
    {"ULONG_PTR", 4},        {"WCHAR", 2},          {"BOOLEAN", 1},
};

struct LayoutReport {
    std::map<std::string, std::pair<unsigned, unsigned>> fields;
    std::map<std::string, unsigned> sizes;
    std::map<std::string, unsigned> args;
};

LayoutReport layout_report() {
    LayoutReport out;
    const Result r = run(IMAGE_LAYOUT_CHECK, {});
    EXPECT_EQ(r.status, 0) << r.err;
    std::stringstream in(r.out);
    for (std::string kind, name; in >> kind >> name;) {
        unsigned a = 0, b = 0;
        if (kind == "layout" && in >> a >> b) out.fields[name] = {a, b};
        else if (kind == "size" && in >> a) out.sizes[name] = a;
        else if (kind == "args" && in >> a) out.args[name] = a;
    }
    return out;
}

TEST(ImageLayout, StructuresHaveThePublishedX86Layouts) {
    const LayoutReport report = layout_report();
    for (const auto& [field, expected] : kPublishedFields) {
        ASSERT_TRUE(report.fields.count(field)) << field << " not reported";
        EXPECT_EQ(report.fields.at(field).first, expected.first) << field << " offset";
        EXPECT_EQ(report.fields.at(field).second, expected.second) << field << " size";
    }
    for (const auto& [type, expected] : kPublishedSizes) {
        ASSERT_TRUE(report.sizes.count(type)) << type << " not reported";
        EXPECT_EQ(report.sizes.at(type), expected) << "size of " << type;
    }
}

// Each stdcall operation pops the bytes the export lists (which the image
// links against) give after its name.
TEST(ImageLayout, ArgumentBytesMatchTheExportLists) {
    const LayoutReport report = layout_report();
    std::map<std::string, unsigned> listed;
    for (const char* def : {"ntoskrnl.def", "hal.def"}) {
        std::ifstream in(std::string(IMAGE_DEFS_DIR) + "/" + def);
        if (!in) GTEST_SKIP() << def << " not found";
        for (std::string line; std::getline(in, line);) {
            static const std::regex entry(R"(^\s*([A-Za-z_]\w*)@(\d+)\s*$)");
            std::smatch m;
            if (std::regex_match(line, m, entry)) listed[m[1]] = static_cast<unsigned>(std::stoul(m[2]));
        }
    }
    EXPECT_EQ(listed.size(), 11u) << "every operation but DbgPrint is stdcall";
    EXPECT_EQ(report.args, listed);
}

} // namespace
