// Defaults and the serial driver's parameters.
#include "spine_fixture.hpp"

#include <functional>

namespace {

const std::string kSerial1 = sim::serial_parameters_key("Serial1");
const std::string kSerial10000 = sim::serial_parameters_key("Serial10000");

struct RegistryCase {
    const char* name;
    std::function<void(sim::Kernel&)> setup;
    std::uint32_t com_port;
    std::uint32_t com_irq;
    std::vector<std::string> reads;
};

void dwords(sim::Kernel& k, const std::string& path, std::initializer_list<std::pair<const char*, std::uint32_t>> v) {
    k.registry().key(path);
    for (auto& [name, value] : v) k.registry().set_dword(path, name, value);
}

class SerialParameters : public SpineTest, public ::testing::WithParamInterface<RegistryCase> {};

TEST_P(SerialParameters, ComPortAndIrqComeFromTheFirstReadableKey) {
    const RegistryCase& c = GetParam();
    c.setup(kernel);
    CmExtension e = patterned();
    SetDefaults(&e);
    EXPECT_EQ(e.ComPort, c.com_port);
    EXPECT_EQ(e.ComIrq, c.com_irq);
    EXPECT_EQ(kernel.registry_reads(), c.reads);
    EXPECT_EQ(kernel.trace(), ""); // Debug 0 writes nothing
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SerialParameters,
    ::testing::Values(
        RegistryCase{"Serial1Both", [](sim::Kernel& k) { dwords(k, kSerial1, {{"PortAddress", 0x3E8}, {"Interrupt", 5}}); },
                     0x3E8, 5, {kSerial1}},
        RegistryCase{"Serial1WithoutValues", [](sim::Kernel& k) { dwords(k, kSerial1, {}); }, 0x2F8, 3, {kSerial1}},
        RegistryCase{"OnlySerial10000",
                     [](sim::Kernel& k) { dwords(k, kSerial10000, {{"PortAddress", 0x3E8}, {"Interrupt", 5}}); }, 0x3E8,
                     5, {kSerial1, kSerial10000}},
        RegistryCase{"NeitherKey", [](sim::Kernel&) {}, 0x2F8, 3, {kSerial1, kSerial10000}},
        RegistryCase{"ZerosKeepDefaults",
                     [](sim::Kernel& k) { dwords(k, kSerial1, {{"PortAddress", 0}, {"Interrupt", 0}}); }, 0x2F8, 3,
                     {kSerial1}},
        RegistryCase{"OnlyInterrupt", [](sim::Kernel& k) { dwords(k, kSerial1, {{"Interrupt", 7}}); }, 0x2F8, 7,
                     {kSerial1}},
        RegistryCase{"NamesIgnoreCase",
                     [](sim::Kernel& k) { dwords(k, kSerial1, {{"portaddress", 0x3E8}, {"INTERRUPT", 4}}); }, 0x3E8, 4,
                     {kSerial1}},
        // A string is no 32-bit number: the query delivers the default
        // instead, so the COM port keeps 0x2F8 rather than taking garbage.
        RegistryCase{"StringValueIsTakenAsAbsent",
                     [](sim::Kernel& k) {
                         dwords(k, kSerial1, {{"Interrupt", 5}});
                         k.registry().set_string(kSerial1, "PortAddress", "0x3E8");
                     },
                     0x2F8, 5, {kSerial1}},
        // Serial1 ends with a warning status (top bit set): the values it
        // delivered stay in the locals, Serial10000 is read too and, being
        // absent, changes nothing.
        RegistryCase{"WarningStatusCountsAsFailure",
                     [](sim::Kernel& k) {
                         dwords(k, kSerial1, {{"PortAddress", 0x3E8}, {"Interrupt", 5}});
                         k.faults().query_status.push_back({kSerial1, static_cast<NTSTATUS>(0x80000005u)});
                     },
                     0x3E8, 5, {kSerial1, kSerial10000}},
        RegistryCase{"WarningThenSerial10000Overrides",
                     [](sim::Kernel& k) {
                         dwords(k, kSerial1, {{"PortAddress", 0x3E8}, {"Interrupt", 5}});
                         k.faults().query_status.push_back({kSerial1, static_cast<NTSTATUS>(0x80000005u)});
                         dwords(k, kSerial10000, {{"PortAddress", 0x2E8}});
                     },
                     // Serial10000 lacks "Interrupt": its entry delivers the
                     // default, the record's 3, over the 5 that Serial1 gave.
                     0x2E8, 3, {kSerial1, kSerial10000}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SpineTest, SetDefaultsWritesEveryDefaultAndLeavesTheRestAlone) {
    CmExtension e = patterned();
    const CmExtension before = e;
    SetDefaults(&e);
    EXPECT_EQ(e.Socket, 0u);
    EXPECT_EQ(e.HwMem, 0xC800u);
    EXPECT_EQ(e.PcicBusPort, 0x3E0u);
    EXPECT_EQ(e.Debug, 0u);
    EXPECT_EQ(e.ConfigIndex, 0);
    EXPECT_EQ(e.AttrMem, before.AttrMem);
    EXPECT_EQ(e.PcicPort, before.PcicPort);
    EXPECT_EQ(e.CorOffset, before.CorOffset);
    EXPECT_EQ(0, std::memcmp(e.Signature, before.Signature, sizeof e.Signature));
}

// The trace of both queries, with "%.x" printing no digits for zero.
TEST_F(SpineTest, RegistryTraceShowsStatusesAndLocals) {
    dwords(kernel, kSerial10000, {{"PortAddress", 0x3E8}});
    ModemDebugDefault = 2;
    CmExtension e = patterned();
    SetDefaults(&e);
    EXPECT_EQ(e.Debug, 2u);
    EXPECT_EQ(kernel.trace(),
              "Nuvalt: read registry serial1 status c0000034 userio  userirq \n"
              "Nuvalt: read registry serial10000 status 0 userio 3e8 userirq 3\n");
}

TEST_F(SpineTest, RegistryTraceOfASuccessfulFirstQuery) {
    dwords(kernel, kSerial1, {{"PortAddress", 0x2F8}, {"Interrupt", 3}});
    ModemDebugDefault = 1;
    CmExtension e = patterned();
    SetDefaults(&e);
    EXPECT_EQ(kernel.trace(), "Nuvalt: read registry serial1 status 0 userio 2f8 userirq 3\n");
}

} // namespace
