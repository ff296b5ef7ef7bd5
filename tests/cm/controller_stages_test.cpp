// The controller stages against the recording stand-in for the controller
// layer: which calls they make, with what arguments, what they leave in the
// record, what they return and the exact trace lines for Debug 0, 1 and 2.
#include "ntpcic_double.hpp"
#include "sim_trace.hpp"

#include "modem/cm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace cmtest {
namespace {

constexpr ULONG_PTR kPort = 0x3E0; // mapped controller port the record holds

CmExtension controller_record(ULONG debug) {
    CmExtension ext;
    std::memset(&ext, 0, sizeof ext);
    ext.Socket = 0;
    ext.HwMem = 0xC800;
    ext.PcicBusPort = 0x3E0;
    ext.PcicPort = kPort;
    ext.ComPort = 0x2F8;
    ext.ComIrq = 3;
    ext.Debug = debug;
    return ext;
}

PcicCall read_id(std::uint64_t socket) { return {"NtPCIC_Read_Reg", {socket, 0, kPort}}; }
PcicCall enable(std::uint64_t socket, std::uint64_t port = kPort) { return {"NtPCIC_Enable", {socket, port}}; }

const std::string kEntry = "Nuvalt: CmPcicEnable\n";
std::string passed(const char* id) {
    return kEntry + "Nuvalt: check passed PCIC id byte is 0x" + id + "\nNuvalt: check pcic offset 0\n";
}
const std::string kFailed = "Nuvalt: CmPcicEnable failed\n";

struct EnableCase {
    std::string name;
    std::uint8_t id;
    std::vector<std::int32_t> enable; // scripted NtPCIC_Enable results
    LONG result;
    std::vector<PcicCall> calls;
    ULONG socket;      // Socket afterwards
    ULONG port_shift;  // added to PcicBusPort and PcicPort
    std::string trace; // with Debug nonzero
    ULONG start_socket = 0;
};
void PrintTo(const EnableCase& c, std::ostream* os) { *os << c.name; }

std::vector<EnableCase> enable_cases() {
    return {
        {"IdFFRefused", 0xFF, {}, 1, {read_id(1)}, 0, 0,
         kEntry + "Nuvalt: checkpcic failed, PCIC id byte is 0xFF\n"},
        {"Id81Refused", 0x81, {}, 1, {read_id(1)}, 0, 0,
         kEntry + "Nuvalt: checkpcic failed, PCIC id byte is 0x81\n"},
        {"Id00RefusedShownInTwoColumns", 0x00, {}, 1, {read_id(1)}, 0, 0,
         kEntry + "Nuvalt: checkpcic failed, PCIC id byte is 0x 0\n"},
        {"RefusalLeavesSocketAsItWas", 0x10, {}, 1, {read_id(2)}, 1, 0,
         kEntry + "Nuvalt: checkpcic failed, PCIC id byte is 0x10\n", 1},
        {"Id82CardInSocket1", 0x82, {0}, 0, {read_id(1), enable(1)}, 0, 0, passed("82")},
        {"Id82NoCardTriesSocket1Twice", 0x82, {1, 1}, 1, {read_id(1), enable(1), enable(1)}, 0, 0,
         passed("82") + kFailed},
        {"Id82CardOnSecondTry", 0x82, {1, 0}, 0, {read_id(1), enable(1), enable(1)}, 0, 0, passed("82")},
        {"IdReadFromRecordSocketThenSocket1", 0x82, {0}, 0, {read_id(3), enable(1)}, 0, 0, passed("82"), 2},
        {"Id83CardInSocket1", 0x83, {0}, 0, {read_id(1), enable(1)}, 0, 0, passed("83")},
        {"Id83CardInSocket2", 0x83, {1, 0}, 0, {read_id(1), enable(1), enable(2)}, 1, 0,
         passed("83") + "Nuvalt: check pcic offset 40\n"},
        {"Id83NoCard", 0x83, {1, 1}, 1, {read_id(1), enable(1), enable(2)}, 1, 0,
         passed("83") + "Nuvalt: check pcic offset 40\n" + kFailed},
        {"Id84CardInSocket1PortsStay", 0x84, {0}, 0, {read_id(1), enable(1)}, 0, 0, passed("84")},
        {"Id84CardInSocket3PortsRaised", 0x84, {1, 0}, 0, {read_id(1), enable(1), enable(3, kPort + 4)}, 2, 4,
         passed("84") + "Nuvalt: check vlsi offset 80\n"},
        {"Id84NoCardKeepsRaisedPorts", 0x84, {1, 1}, 1, {read_id(1), enable(1), enable(3, kPort + 4)}, 2, 4,
         passed("84") + "Nuvalt: check vlsi offset 80\n" + kFailed},
        {"Id85TriesSocket1Twice", 0x85, {1, 0}, 0, {read_id(1), enable(1), enable(1)}, 0, 0, passed("85")},
        {"IdFEAccepted", 0xFE, {0}, 0, {read_id(1), enable(1)}, 0, 0, passed("FE")},
        // A result other than 1 (a card that never became ready, say) ends
        // the stage with that result.
        {"OtherResultOfFirstTryReturned", 0x82, {2}, 2, {read_id(1), enable(1)}, 0, 0, passed("82")},
        {"OtherResultOfSecondTryReturned", 0x83, {1, -1}, -1, {read_id(1), enable(1), enable(2)}, 1, 0,
         passed("83") + "Nuvalt: check pcic offset 40\n"},
    };
}

class CmPcicEnableTest : public testing::TestWithParam<EnableCase> {};

TEST_P(CmPcicEnableTest, ChoosesSocketByIdByte) {
    const EnableCase& c = GetParam();
    for (ULONG debug : {0u, 1u, 2u}) {
        SCOPED_TRACE(debug);
        SimTrace sim;
        PcicScript script;
        script.id_byte = c.id;
        script.enable.assign(c.enable.begin(), c.enable.end());
        pcic_double().reset(script);
        CmExtension ext = controller_record(debug);
        ext.Socket = c.start_socket;

        EXPECT_EQ(CmPcicEnable(&ext), c.result);

        EXPECT_EQ(pcic_double().calls, c.calls);
        EXPECT_FALSE(pcic_double().script_exhausted);
        EXPECT_EQ(ext.Socket, c.socket);
        EXPECT_EQ(ext.PcicBusPort, 0x3E0u + c.port_shift);
        EXPECT_EQ(ext.PcicPort, kPort + c.port_shift);
        EXPECT_EQ(sim.trace(), debug ? c.trace : "");
    }
}

INSTANTIATE_TEST_SUITE_P(IdBytes, CmPcicEnableTest, testing::ValuesIn(enable_cases()),
                         [](const testing::TestParamInfo<EnableCase>& i) { return i.param.name; });

// ---------------------------------------------------------------------
// The three thin stages: one call each, its result returned unchanged.

struct ThinCase {
    std::string name;
    LONG (*stage)(PCmExtension);
    void (*set)(PcicScript&, std::int32_t);
    PcicCall call;
    std::string entry, failed, passed;
};
void PrintTo(const ThinCase& c, std::ostream* os) { *os << c.name; }

// The record of a card served by socket 3 at the raised ports, segment
// 0xD000, COM port 0x3E8 with IRQ 5.
CmExtension thin_record(ULONG debug) {
    CmExtension ext = controller_record(debug);
    ext.Socket = 2;
    ext.PcicPort = 0x3E4;
    ext.HwMem = 0xD000;
    ext.ComPort = 0x3E8;
    ext.ComIrq = 5;
    return ext;
}

bool same_record(const CmExtension& a, const CmExtension& b) {
    return a.Socket == b.Socket && a.HwMem == b.HwMem && a.PcicBusPort == b.PcicBusPort && a.ComPort == b.ComPort &&
           a.ComIrq == b.ComIrq && a.AttrMem == b.AttrMem && a.PcicPort == b.PcicPort && a.Debug == b.Debug &&
           a.ConfigIndex == b.ConfigIndex && a.CorOffset == b.CorOffset &&
           std::memcmp(a.Signature, b.Signature, sizeof a.Signature) == 0;
}

std::vector<ThinCase> thin_cases() {
    return {
        {"Memory", CmPcicEnableMemory, [](PcicScript& s, std::int32_t r) { s.memory = r; },
         {"NtPCIC_Enable_Memory", {3, 0, 0xD0000, 0x1000, 0, 8, 0x3E4}},
         "Nuvalt: CmPcicEnableMemory 000003e4 0000d000\n", "Nuvalt: CmPcicEnableMemory failed\n",
         "Nuvalt: CmPcicEnableMemory passed\n"},
        {"Io", CmPcicEnableIo, [](PcicScript& s, std::int32_t r) { s.io = r; },
         {"NtPCIC_Enable_IO", {3, 0, 0x3E8, 8, 4, 0x3E4}}, "Nuvalt: CmPcicEnableIo\n",
         "Nuvalt: CmPcicEnableIo failed\n", "Nuvalt: CmPcicEnableIo passed\n"},
        {"Irq", CmPcicEnableIrq, [](PcicScript& s, std::int32_t r) { s.irq = r; },
         {"NtPCIC_Enable_IRQ", {3, 0, 5, 0x3E4}}, "Nuvalt: CmPcicEnableIrq\n", "Nuvalt: CmPcicEnableIrq failed\n",
         "Nuvalt: CmPcicEnableIrq passed\n"},
    };
}

class ThinStageTest : public testing::TestWithParam<ThinCase> {};

TEST_P(ThinStageTest, MakesOneCallAndReturnsItsResult) {
    const ThinCase& c = GetParam();
    for (std::int32_t result : {0, 1, 7}) {
        for (ULONG debug : {0u, 1u, 2u}) {
            SCOPED_TRACE(testing::Message() << "result " << result << " debug " << debug);
            SimTrace sim;
            PcicScript script;
            c.set(script, result);
            pcic_double().reset(script);
            CmExtension ext = thin_record(debug);
            const CmExtension before = ext;

            EXPECT_EQ(c.stage(&ext), result);

            EXPECT_EQ(pcic_double().calls, std::vector<PcicCall>{c.call});
            EXPECT_TRUE(same_record(ext, before)) << "the record changed";
            EXPECT_EQ(sim.trace(), debug ? c.entry + (result == 1 ? c.failed : c.passed) : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stages, ThinStageTest, testing::ValuesIn(thin_cases()),
                         [](const testing::TestParamInfo<ThinCase>& i) { return i.param.name; });

// The default record opens the window at 0xC8000 and the I/O window over 0x2F8.
TEST(ThinStages, DefaultRecordArguments) {
    SimTrace sim;
    pcic_double().reset();
    CmExtension ext = controller_record(0);
    EXPECT_EQ(CmPcicEnableMemory(&ext), 0);
    EXPECT_EQ(CmPcicEnableIo(&ext), 0);
    EXPECT_EQ(CmPcicEnableIrq(&ext), 0);
    const std::vector<PcicCall> expected = {
        {"NtPCIC_Enable_Memory", {1, 0, 0xC8000, 0x1000, 0, 8, kPort}},
        {"NtPCIC_Enable_IO", {1, 0, 0x2F8, 8, 4, kPort}},
        {"NtPCIC_Enable_IRQ", {1, 0, 3, kPort}},
    };
    EXPECT_EQ(pcic_double().calls, expected);
}

} // namespace
} // namespace cmtest
