// The configuration sequence: controller port mapping, the memory-window
// search, and the order and results of the card stages.
#include "spine_fixture.hpp"

#include <vector>

namespace {

std::vector<std::string> all_stages() { return {doubles::kStageNames.begin(), doubles::kStageNames.end()}; }

std::vector<std::uint32_t> all_segments() {
    std::vector<std::uint32_t> s;
    for (std::uint32_t seg = 0xC800; seg < 0xEF00; seg += 0x100) s.push_back(seg);
    return s;
}

TEST_F(SpineTest, TypicalSequenceRunsEveryStageAndReportsConfigured) {
    CmExtension e = patterned();
    EXPECT_EQ(Cmcfg(&e), 1u);
    EXPECT_EQ(doubles::stages().calls, all_stages());
    EXPECT_EQ(kernel.map_mem_calls(), std::vector<std::uint32_t>{0xC800});
    EXPECT_EQ(e.HwMem, 0xC800u);
    EXPECT_EQ(e.PcicPort, 0x3E0u);
    EXPECT_TRUE(kernel.is_mapped(e.AttrMem, 0x1000));
    EXPECT_EQ(kernel.trace(), "");
}

TEST_F(SpineTest, ControllerPortNotTranslated) {
    kernel.hal().io_space = sim::AddressSpace::Refuse;
    CmExtension e = patterned();
    const CmExtension before = e;
    EXPECT_EQ(Cmcfg(&e), 0x20000u);
    EXPECT_TRUE(kernel.map_mem_calls().empty());
    EXPECT_TRUE(doubles::stages().calls.empty());
    EXPECT_EQ(e.PcicPort, before.PcicPort);
    EXPECT_TRUE(kernel.port_log().empty());
}

TEST_F(SpineTest, EverySegmentRefused) {
    kernel.hal().refuse_all_segments = true;
    ModemDebugDefault = 1;
    CmExtension e = patterned();
    const CmExtension before = e;
    EXPECT_EQ(Cmcfg(&e), 0x30000u);
    EXPECT_EQ(kernel.map_mem_calls(), all_segments());
    EXPECT_EQ(e.HwMem, 0xEF00u);
    EXPECT_EQ(e.AttrMem, before.AttrMem);
    EXPECT_TRUE(doubles::stages().calls.empty());
    EXPECT_TRUE(kernel.port_log().empty());
    std::string expected = "Nuvalt: read registry serial1 status c0000034 userio  userirq \n"
                           "Nuvalt: read registry serial10000 status c0000034 userio  userirq \n";
    for (std::uint32_t seg : all_segments()) {
        char line[64];
        std::snprintf(line, sizeof line, "Nuvalt: HwMem %08x\n", seg);
        expected += line;
    }
    EXPECT_EQ(kernel.trace(), expected);
}

TEST_F(SpineTest, OnlyTheLastSegmentTranslates) {
    for (std::uint32_t seg : all_segments())
        if (seg != 0xEE00) kernel.hal().refuse_segments.insert(seg);
    CmExtension e = patterned();
    EXPECT_EQ(Cmcfg(&e), 1u);
    EXPECT_EQ(e.HwMem, 0xEE00u);
    EXPECT_EQ(kernel.map_mem_calls().size(), 39u);
    EXPECT_EQ(doubles::stages().calls, all_stages());
}

// The window line is written only while Debug equals 1; the closing line
// whenever it is nonzero.
TEST_F(SpineTest, SequenceTraceByDebugLevel) {
    const std::string registry = "Nuvalt: read registry serial1 status c0000034 userio  userirq \n"
                                 "Nuvalt: read registry serial10000 status c0000034 userio  userirq \n";
    const std::string passed = "Nuvalt: CMCFG PASSED -----------------------\n";
    struct Case {
        ULONG debug;
        std::string trace;
    };
    for (const Case& c : {Case{0, ""}, Case{1, registry + "Nuvalt: HwMem 0000c800\n" + passed},
                          Case{2, registry + passed}}) {
        ModemDebugDefault = c.debug;
        CmExtension e = patterned();
        std::string before = kernel.trace();
        EXPECT_EQ(Cmcfg(&e), 1u);
        EXPECT_EQ(kernel.trace().substr(before.size()), c.trace) << "Debug " << c.debug;
    }
}

struct StageCase {
    const char* name;
    std::array<long, 7> results;
    ULONG status;
    std::size_t stages_run;
};

class StageResults : public SpineTest, public ::testing::WithParamInterface<StageCase> {};

TEST_P(StageResults, OnlyAResultOfOneStopsTheSequence) {
    const StageCase& c = GetParam();
    doubles::stages().results = c.results;
    CmExtension e = patterned();
    EXPECT_EQ(Cmcfg(&e), c.status);
    std::vector<std::string> expected(doubles::kStageNames.begin(), doubles::kStageNames.begin() + c.stages_run);
    EXPECT_EQ(doubles::stages().calls, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, StageResults,
    ::testing::Values(StageCase{"AllPass", {0, 0, 0, 0, 0, 0, 0}, 1, 7},
                      StageCase{"FirstFails", {1, 0, 0, 0, 0, 0, 0}, 0, 1},
                      // A product string that does not match stops before the I/O window.
                      StageCase{"SignatureFails", {0, 0, 0, 1, 0, 0, 0}, 0, 4},
                      StageCase{"LastFails", {0, 0, 0, 0, 0, 0, 1}, 0, 7},
                      StageCase{"TwoCountsAsPassed", {2, 2, 0, 0, 0, 0, 0}, 1, 7},
                      StageCase{"NegativeCountsAsPassed", {0, -1, 0, 0, 0, 0, 0}, 1, 7}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Bus address mapping ----

TEST_F(SpineTest, MapMemMapsFourKilobytesAtTheSegmentsBusAddress) {
    PUCHAR window = nullptr;
    ASSERT_EQ(MapMem(0xC800, &window), 1u);
    EXPECT_EQ(kernel.map_mem_calls(), std::vector<std::uint32_t>{0xC800});
    EXPECT_TRUE(kernel.is_mapped(window, 0x1000));
    EXPECT_EQ(window[0], 0xFF); // nothing answers on an empty bus
}

TEST_F(SpineTest, MemoryWindowTranslatedIntoIoSpaceIsNotMapped) {
    kernel.hal().memory_space = sim::AddressSpace::Io;
    PUCHAR window = nullptr;
    ASSERT_EQ(MapMem(0xC800, &window), 1u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(window), 0xC8000u);
    EXPECT_EQ(window[0], 0xFF); // the simulated platform shows nothing there
}

TEST_F(SpineTest, ControllerPortTranslatedIntoMemorySpaceIsMappedForSixPorts) {
    kernel.hal().io_space = sim::AddressSpace::Memory;
    ULONG_PTR port = 0;
    ASSERT_EQ(MapIo(0x3E0, &port), 1u);
    EXPECT_TRUE(kernel.is_mapped(reinterpret_cast<void*>(port), 6));
    EXPECT_EQ(kernel.bus_address_of_port(port), sim::kIoAperture + 0x3E0);
    EXPECT_EQ(kernel.bus_address_of_port(port + 5), sim::kIoAperture + 0x3E5);
}

TEST_F(SpineTest, FailedTranslationLeavesTheDestinationAlone) {
    kernel.hal().io_space = sim::AddressSpace::Refuse;
    kernel.hal().memory_space = sim::AddressSpace::Refuse;
    ULONG_PTR port = 1234;
    PUCHAR window = reinterpret_cast<PUCHAR>(0x5678);
    EXPECT_EQ(MapIo(0x3E0, &port), 0u);
    EXPECT_EQ(MapMem(0xC800, &window), 0u);
    EXPECT_EQ(port, 1234u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(window), 0x5678u);
}

} // namespace
