// The entry routine, the device object and link, and the unload routine.
#include "spine_fixture.hpp"

#include <functional>

namespace {

constexpr const char* kDevice = "\\Device\\slotmdm";
constexpr const char* kLink = "\\DosDevices\\slotmdm";

TEST_F(SpineTest, EntryCreatesDeviceAndLinkAndReturnsTheSequenceResult) {
    EXPECT_EQ(load(), 1);
    DRIVER_OBJECT* driver = kernel.driver_object();
    ASSERT_NE(driver->DeviceObject, nullptr);
    EXPECT_EQ(driver->DeviceObject->DeviceType, static_cast<ULONG>(FILE_DEVICE_UNKNOWN));
    EXPECT_EQ(driver->DeviceObject->Characteristics, 0u);
    EXPECT_TRUE(kernel.device_exists(kDevice));
    EXPECT_EQ(kernel.link_target(kLink), kDevice);
    EXPECT_EQ(driver->DriverUnload, &KdvrUnloadDriver);
    for (PDRIVER_DISPATCH d : driver->MajorFunction) EXPECT_EQ(d, nullptr);
    // The record is the device extension, filled by the sequence.
    auto* record = static_cast<CmExtension*>(driver->DeviceObject->DeviceExtension);
    EXPECT_EQ(record->ComPort, 0x2F8u);
    EXPECT_EQ(doubles::stages().calls.size(), 7u);
}

TEST_F(SpineTest, EntryReturnsTheSequenceResultUnchanged) {
    kernel.hal().refuse_all_segments = true;
    EXPECT_EQ(load(), 0x30000);
    EXPECT_TRUE(kernel.device_exists(kDevice)); // kept whatever the result
    EXPECT_TRUE(kernel.link_exists(kLink));
}

TEST_F(SpineTest, DeviceCreationFailureCreatesNothing) {
    kernel.faults().create_device_status = static_cast<NTSTATUS>(0xC000009Au);
    EXPECT_EQ(load(), static_cast<NTSTATUS>(0xC000009Au));
    EXPECT_EQ(kernel.device_count(), 0u);
    EXPECT_FALSE(kernel.link_exists(kLink));
    EXPECT_EQ(kernel.driver_object()->DriverUnload, nullptr);
    EXPECT_TRUE(kernel.registry_reads().empty()); // the sequence never ran
}

TEST_F(SpineTest, LinkFailureDeletesTheDeviceAgain) {
    kernel.faults().create_link_status = static_cast<NTSTATUS>(0xC0000035u);
    EXPECT_EQ(load(), static_cast<NTSTATUS>(0xC0000035u));
    EXPECT_EQ(kernel.device_count(), 0u);
    EXPECT_EQ(kernel.driver_object()->DeviceObject, nullptr);
    EXPECT_EQ(kernel.driver_object()->DriverUnload, nullptr);
    EXPECT_TRUE(kernel.registry_reads().empty());
    EXPECT_TRUE(doubles::stages().calls.empty());
}

TEST_F(SpineTest, ASecondDeviceOfTheSameNameIsRefused) {
    ASSERT_EQ(load(), 1);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, reinterpret_cast<PCWSTR>(u"\\Device\\slotmdm"));
    PDEVICE_OBJECT second = nullptr;
    EXPECT_LT(IoCreateDevice(kernel.driver_object(), 4, &name, FILE_DEVICE_UNKNOWN, 0, TRUE, &second), 0);
    EXPECT_EQ(kernel.device_count(), 1u);
}

// Unload after each kind of result: the device goes first, then the link,
// and nothing is written to any port.
struct UnloadCase {
    const char* name;
    std::function<void(sim::Kernel&)> setup;
};

class UnloadAfterLoad : public SpineTest, public ::testing::WithParamInterface<UnloadCase> {};

TEST_P(UnloadAfterLoad, DeletesDeviceThenLinkAndTouchesNoPort) {
    GetParam().setup(kernel);
    load();
    const std::size_t before = kernel.events().size();
    KdvrUnloadDriver(kernel.driver_object());
    std::vector<sim::KernelEvent::Kind> kinds;
    for (std::size_t i = before; i < kernel.events().size(); ++i) kinds.push_back(kernel.events()[i].kind);
    EXPECT_EQ(kinds, (std::vector<sim::KernelEvent::Kind>{sim::KernelEvent::Kind::DeviceDeleted,
                                                            sim::KernelEvent::Kind::LinkDeleted}));
    EXPECT_EQ(kernel.device_count(), 0u);
    EXPECT_FALSE(kernel.link_exists(kLink));
}

INSTANTIATE_TEST_SUITE_P(
    Results, UnloadAfterLoad,
    ::testing::Values(UnloadCase{"Configured", [](sim::Kernel&) {}},
                      UnloadCase{"StageFailed", [](sim::Kernel&) { doubles::stages().results[3] = 1; }},
                      UnloadCase{"NoPort", [](sim::Kernel& k) { k.hal().io_space = sim::AddressSpace::Refuse; }},
                      UnloadCase{"NoWindow", [](sim::Kernel& k) { k.hal().refuse_all_segments = true; }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
