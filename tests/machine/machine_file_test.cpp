// Reading machine descriptions: defaults for what is left out, and a clear
// error naming the file, the key and why for anything that cannot be used.
#include "sim/machine/machine_spec.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

sim::MachineSpec parse(const std::string& text) { return sim::parse_machine(text, "test.toml", "."); }

TEST(MachineFile, EmptyDescriptionIsTheTypicalBoot) {
    const sim::MachineSpec m = parse("");
    EXPECT_EQ(m.name, "typical boot");
    EXPECT_EQ(m.debug, 0u);
    ASSERT_EQ(m.registry.size(), 1u);
    EXPECT_EQ(m.registry[0].name, "Serial1");
    ASSERT_EQ(m.registry[0].values.size(), 2u);
    EXPECT_EQ(m.registry[0].values[0].number, 0x2F8u);
    EXPECT_EQ(m.registry[0].values[1].number, 3u);
    ASSERT_EQ(m.controllers.size(), 1u);
    EXPECT_EQ(m.controllers[0].port, 0x3E0);
    EXPECT_EQ(m.controllers[0].id, 0x82);
    ASSERT_EQ(m.sockets.size(), 2u);
    EXPECT_EQ(m.sockets[0].card, "nuvalt");
    EXPECT_FALSE(m.sockets[0].cis.empty());
    EXPECT_EQ(m.sockets[1].bank, 1);
    EXPECT_FALSE(m.sockets[1].has_card());
    EXPECT_EQ(m.hal.io_space, sim::AddressSpace::Io);
    EXPECT_EQ(m.hal.memory_space, sim::AddressSpace::Memory);
}

TEST(MachineFile, EveryKeyIsRead) {
    const sim::MachineSpec m = parse(R"(
name = "all keys"
[driver]
debug = 2
[registry]
Serial10000 = { PortAddress = 0x3E8, Interrupt = 5, Comment = "text" }
[kernel]
create_device_status = -1073741670
create_link_status = 0xC0000035
[hal]
io_space = "memory"
memory_space = "io"
refuse_segments = [0xC800, 0xC900]
stall_overhead_ns = 100
[[controller]]
port = 0x3E0
id = 0x84
[[controller]]
port = 0x3E4
id = 0x84
[[socket]]
controller = 0x3E4
bank = 2
card = "none"
detect = "cd2"
ready_ms = "never"
odd_fill = 0
status_or = 0x80
)");
    EXPECT_EQ(m.name, "all keys");
    EXPECT_EQ(m.debug, 2u);
    ASSERT_EQ(m.registry.size(), 1u);
    EXPECT_EQ(m.registry[0].name, "Serial10000");
    ASSERT_EQ(m.registry[0].values.size(), 3u);
    for (const sim::RegistryValueSpec& v : m.registry[0].values) {
        EXPECT_EQ(v.is_string, v.name == "Comment") << v.name;
        if (v.name == "Comment") {
            EXPECT_EQ(v.text, "text");
        } else if (v.name == "PortAddress") {
            EXPECT_EQ(v.number, 0x3E8u);
        }
    }
    EXPECT_EQ(m.faults.create_device_status, static_cast<NTSTATUS>(0xC000009Au));
    EXPECT_EQ(m.faults.create_link_status, static_cast<NTSTATUS>(0xC0000035u));
    EXPECT_EQ(m.hal.io_space, sim::AddressSpace::Memory);
    EXPECT_EQ(m.hal.memory_space, sim::AddressSpace::Io);
    EXPECT_EQ(m.hal.refuse_segments, (std::set<std::uint32_t>{0xC800, 0xC900}));
    EXPECT_EQ(m.hal.stall_overhead_ns, 100u);
    ASSERT_EQ(m.controllers.size(), 2u);
    ASSERT_EQ(m.sockets.size(), 1u);
    const sim::SocketSpec& s = m.sockets[0];
    EXPECT_EQ(s.controller, 0x3E4);
    EXPECT_EQ(s.bank, 2);
    EXPECT_EQ(s.detect, 0x08);
    EXPECT_FALSE(s.ready_ms.has_value());
    EXPECT_EQ(s.odd_fill, 0);
    EXPECT_EQ(s.status_or, 0x80);
}

TEST(MachineFile, EmptyArraysMeanNothingThere) {
    const sim::MachineSpec m = parse("controller = []\nsocket = []\n[registry]\n");
    EXPECT_TRUE(m.controllers.empty());
    EXPECT_TRUE(m.sockets.empty());
    EXPECT_TRUE(m.registry.empty());
    EXPECT_TRUE(parse("[hal]\nrefuse_segments = \"all\"\n").hal.refuse_all_segments);
}

TEST(MachineFile, CardImagePathIsTakenFromTheMachineFilesFolder) {
    const auto dir = std::filesystem::temp_directory_path() / "modemsim-machine-file-test";
    std::filesystem::create_directories(dir);
    {
        std::ofstream(dir / "tiny.cis", std::ios::binary) << std::string("\x15\x02\x04\x01\xff", 5);
        std::ofstream(dir / "m.toml") << "[[socket]]\ncard = \"tiny.cis\"\n";
    }
    const sim::MachineSpec m = sim::load_machine_file(dir / "m.toml");
    ASSERT_EQ(m.sockets.size(), 1u);
    EXPECT_EQ(m.sockets[0].cis, (std::vector<std::uint8_t>{0x15, 0x02, 0x04, 0x01, 0xFF}));
    std::filesystem::remove_all(dir);
}

struct BadCase {
    const char* name;
    const char* text;
    const char* message; // what the error must say, after "test.toml:"
};

class BadDescription : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDescription, IsRefusedNamingFileKeyAndWhy) {
    try {
        parse(GetParam().text);
        FAIL() << "accepted";
    } catch (const sim::MachineError& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("test.toml:", 0), 0u) << what;
        EXPECT_NE(what.find(GetParam().message), std::string::npos) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, BadDescription,
    ::testing::Values(
        BadCase{"Syntax", "name = ", "test.toml:1:"},
        BadCase{"UnknownTopKey", "colour = 1\n", "colour: unknown key"},
        BadCase{"UnknownNestedKey", "[hal]\nspeed = 1\n", "hal.speed: unknown key"},
        BadCase{"NameNotString", "name = 3\n", "name: must be a string"},
        BadCase{"DebugNegative", "[driver]\ndebug = -1\n", "driver.debug: must be between 0 and 4294967295"},
        BadCase{"DebugNotInteger", "[driver]\ndebug = \"1\"\n", "driver.debug: must be an integer"},
        BadCase{"RegistryKeyNotTable", "[registry]\nSerial1 = 5\n", "registry.Serial1: must be a table"},
        BadCase{"RegistryValueTooBig", "[registry]\nSerial1 = { PortAddress = 0x100000000 }\n",
                "registry.Serial1.PortAddress: must be between"},
        BadCase{"RegistryValueWrongType", "[registry]\nSerial1 = { PortAddress = 1.5 }\n",
                "registry.Serial1.PortAddress: must be an integer (REG_DWORD) or a string (REG_SZ)"},
        BadCase{"PositiveStatus", "[kernel]\ncreate_device_status = 5\n",
                "kernel.create_device_status: must be 0 or a negative"},
        BadCase{"BadSpace", "[hal]\nio_space = \"bus\"\n", "hal.io_space: must be \"io\", \"memory\" or \"refuse\""},
        BadCase{"BadRefuseWord", "[hal]\nrefuse_segments = \"some\"\n", "hal.refuse_segments: must be a list"},
        BadCase{"SegmentTooBig", "[hal]\nrefuse_segments = [0x10000]\n", "hal.refuse_segments: must be between"},
        BadCase{"ControllerNotArray", "[controller]\nport = 1\n", "controller: must be an array of tables"},
        BadCase{"ControllerPortTooBig", "[[controller]]\nport = 0xFFFF\n", "controller[0].port: must be between"},
        BadCase{"ControllersOverlap", "[[controller]]\nport = 0x3E0\n[[controller]]\nport = 0x3E1\n",
                "controller[1].port: ports 0x3E1/0x3E2 overlap the controller at 0x3E0"},
        BadCase{"SocketOnMissingController", "[[socket]]\ncontroller = 0x3E8\n",
                "socket[0].controller: no [[controller]] has port 0x3E8"},
        BadCase{"BankTwice", "[[socket]]\nbank = 1\n[[socket]]\nbank = 1\n", "socket[1].bank: bank 1 of the controller"},
        BadCase{"BankOutOfRange", "[[socket]]\nbank = 4\n", "socket[0].bank: must be between 0 and 3"},
        BadCase{"BadDetect", "[[socket]]\ndetect = \"cd3\"\n", "socket[0].detect: must be \"both\", \"cd1\" or \"cd2\""},
        BadCase{"BadReadyWord", "[[socket]]\nready_ms = \"later\"\n", "socket[0].ready_ms: must be a number"},
        BadCase{"OddFillTooBig", "[[socket]]\nodd_fill = 256\n", "socket[0].odd_fill: must be between 0 and 255"},
        BadCase{"MissingCardImage", "[[socket]]\ncard = \"missing.cis\"\n", "socket[0].card: cannot read card image"},
        BadCase{"EmptyCardName", "[[socket]]\ncard = \"\"\n", "socket[0].card: must be"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MachineFile, MissingFileIsNamed) {
    try {
        sim::load_machine_file("/nonexistent/machine.toml");
        FAIL();
    } catch (const sim::MachineError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/machine.toml"), std::string::npos);
    }
}

} // namespace
