// Whole loads on the example machines: the load status, the record, what the
// serial probe finds, and the report that modemsim prints.
#include "sim/machine/machine.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace {

using Json = nlohmann::ordered_json;

const std::filesystem::path kMachines = MACHINES_DIR;

Json run(const sim::MachineSpec& description, bool unload = false) {
    sim::Machine m(description);
    m.load();
    m.probe();
    if (unload) m.unload();
    return m.report();
}

Json run_file(const std::string& file) { return run(sim::load_machine_file(kMachines / file)); }

struct Expect {
    const char* file;
    std::uint32_t status;
    std::optional<std::uint32_t> com_port;   // uart found there (nullopt: not found)
    std::optional<int> irq;
    std::optional<std::uint32_t> socket;     // record's Socket
    std::uint64_t stall_us;
};

class ExampleMachine : public ::testing::TestWithParam<Expect> {};

TEST_P(ExampleMachine, LoadsAsDescribed) {
    const Expect& x = GetParam();
    const Json r = run_file(x.file);
    EXPECT_EQ(r["status"], x.status) << r["meaning"];
    EXPECT_EQ(r["stall"]["us"], x.stall_us);
    if (x.socket) {
        EXPECT_EQ(r["record"]["Socket"], *x.socket);
    }
    EXPECT_EQ(r["uart"]["found"], x.com_port.has_value());
    if (x.com_port) {
        EXPECT_EQ(r["uart"]["port"], *x.com_port);
        EXPECT_EQ(r["uart"]["irq"], *x.irq);
    } else {
        EXPECT_TRUE(r["uart"]["irq"].is_null());
    }
}

constexpr std::uint64_t kTypicalStallUs = 2'315'000;
// One NtPCIC_Enable of a card that never becomes ready: 100 polls.
constexpr std::uint64_t kNeverReadyUs = 4'015'000;

INSTANTIATE_TEST_SUITE_P(
    Machines, ExampleMachine,
    ::testing::Values(Expect{"typical-boot.toml", 1, 0x2F8, 3, 0, kTypicalStallUs},
                      Expect{"com4-irq5.toml", 1, 0x3E8, 5, 0, kTypicalStallUs},
                      Expect{"serial10000-fallback.toml", 1, 0x3F8, 4, 0, kTypicalStallUs},
                      Expect{"no-serial-keys.toml", 1, 0x2F8, 3, 0, kTypicalStallUs},
                      Expect{"controller-83-second-socket.toml", 1, 0x2F8, 3, 1, kTypicalStallUs},
                      Expect{"controller-84-third-bank.toml", 1, 0x2F8, 3, 2, kTypicalStallUs},
                      Expect{"controller-ports-in-memory.toml", 1, 0x2F8, 3, 0, kTypicalStallUs},
                      Expect{"last-segment-only.toml", 1, 0x2F8, 3, 0, kTypicalStallUs},
                      Expect{"traced-boot.toml", 1, 0x2F8, 3, 0, kTypicalStallUs},
                      Expect{"slow-stall.toml", 1, 0x2F8, 3, 0, kTypicalStallUs},
                      // Ready at the 25th poll: 24 more polls of 20 ms.
                      Expect{"card-slow-ready.toml", 1, 0x2F8, 3, 0, kTypicalStallUs + 24 * 20'000},
                      Expect{"no-card.toml", 0, std::nullopt, std::nullopt, 0, 0},
                      // Treated as an empty socket, tried twice (id 0x82 has no second socket).
                      Expect{"card-never-ready.toml", 0, std::nullopt, std::nullopt, 0, 2 * kNeverReadyUs},
                      Expect{"no-controller.toml", 0, std::nullopt, std::nullopt, 0, 0},
                      Expect{"controller-port-refused.toml", 0x20000, std::nullopt, std::nullopt, 0, 0},
                      Expect{"no-memory-window.toml", 0x30000, std::nullopt, std::nullopt, 0, 0}),
    [](const auto& info) {
        std::string n = info.param.file;
        n = n.substr(0, n.find('.'));
        std::string out;
        for (char c : n) out += (c == '-') ? '_' : c;
        return out;
    });

TEST(TypicalBoot, ReportShowsTheConfiguredCard) {
    const Json r = run(sim::default_machine(), true);
    EXPECT_EQ(r["machine"], "typical boot");
    EXPECT_EQ(r["status"], 1);
    EXPECT_EQ(r["meaning"], "configured");
    EXPECT_EQ(r["device"], Json::parse(R"({"name": "\\Device\\slotmdm", "link": "\\DosDevices\\slotmdm",
        "exists": true, "link_exists": true, "unload_installed": true})"));
    const Json& rec = r["record"];
    EXPECT_EQ(rec["Socket"], 0);
    EXPECT_EQ(rec["HwMem"], 0xC800);
    EXPECT_EQ(rec["PcicBusPort"], 0x3E0);
    EXPECT_EQ(rec["PcicPort"], 0x3E0);
    EXPECT_EQ(rec["ComPort"], 0x2F8);
    EXPECT_EQ(rec["ComIrq"], 3);
    EXPECT_EQ(rec["Debug"], 0);
    EXPECT_EQ(rec["ConfigIndex"], 0x11);
    EXPECT_EQ(rec["CorOffset"], 0x3F8);
    EXPECT_EQ(rec["Signature"], "Nuvalt ThinPocket Modem");
    EXPECT_EQ(r["trace"], "");
    EXPECT_EQ(r["stall"], Json::parse(R"({"calls": 2315000, "us": 2315000, "clock_ns": 2315000000})"));
    EXPECT_EQ(r["registry_reads"],
              Json::array({"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters\\Serial1"}));
    EXPECT_EQ(r["map_mem_calls"], Json::array({0xC800}));
    ASSERT_EQ(r["cards"].size(), 1u);
    EXPECT_EQ(r["cards"][0], Json::parse(R"({"controller": 992, "bank": 0, "cor": 81, "io_mode": true, "io_base": 760})"));
    EXPECT_EQ(r["uart"], Json::parse(R"({"found": true, "port": 760, "irq": 3})"));
    EXPECT_EQ(r["unload"], Json::parse(R"({"device_deleted_first": true, "link_removed": true, "port_writes": 0})"));

    // The controller's registers at the end: memory window 0 over 0xC8000
    // onto attribute memory, I/O window 0 over 0x2F8..0x2FF, IRQ 3 steered.
    const Json& regs = r["controllers"][0]["registers"];
    ASSERT_EQ(regs.size(), 256u);
    EXPECT_EQ(regs[0x00], 0x82);
    EXPECT_EQ(regs[0x02], 0x95);
    EXPECT_EQ(regs[0x03], 0x63);
    EXPECT_EQ(regs[0x06], 0x61);
    EXPECT_EQ(regs[0x07], 0x04);
    EXPECT_EQ(regs[0x08], 0xF8);
    EXPECT_EQ(regs[0x09], 0x02);
    EXPECT_EQ(regs[0x0A], 0xFF);
    EXPECT_EQ(regs[0x0B], 0x02);
    EXPECT_EQ(regs[0x10], 0xC8);
    EXPECT_EQ(regs[0x14], 0x38);
    EXPECT_EQ(regs[0x15], 0x7F);
}

TEST(TypicalBoot, ModemAnswersAtThroughTheConfiguredPort) {
    sim::Machine m(sim::default_machine());
    m.load();
    const sim::SerialProbe p = m.probe();
    EXPECT_TRUE(p.found);
    EXPECT_NE(p.reply_to_at.find("\r\nOK\r\n"), std::string::npos) << p.reply_to_at;
    const std::string summary = m.summary();
    EXPECT_NE(summary.find("0x1 (configured)"), std::string::npos) << summary;
    EXPECT_NE(summary.find("UART found at 0x2F8, IRQ 3"), std::string::npos) << summary;
    EXPECT_NE(summary.find("answers \"AT\" with \"OK\""), std::string::npos) << summary;
    EXPECT_NE(summary.find("2.315 s"), std::string::npos) << summary;
}

TEST(FaultInjection, DeviceAndLinkFailuresLeaveNoDevice) {
    for (const char* file : {"device-creation-fails.toml", "link-creation-fails.toml"}) {
        const Json r = run_file(file);
        EXPECT_GE(r["status"].get<std::uint32_t>(), 0x80000000u) << file;
        EXPECT_FALSE(r.contains("record")) << file;
        EXPECT_FALSE(r["device"]["exists"]) << file;
        EXPECT_FALSE(r["device"]["link_exists"]) << file;
        EXPECT_FALSE(r["device"]["unload_installed"]) << file;
        EXPECT_TRUE(r["registry_reads"].empty()) << file;
        EXPECT_TRUE(r["ports"].empty()) << file;
    }
    EXPECT_EQ(run_file("device-creation-fails.toml")["meaning"], "device not created");
    EXPECT_EQ(run_file("link-creation-fails.toml")["meaning"], "link not created");
}

TEST(Mapping, WindowSearchAndPortMappingShowInTheReport) {
    const Json none = run_file("no-memory-window.toml");
    EXPECT_EQ(none["record"]["HwMem"], 0xEF00);
    EXPECT_EQ(none["map_mem_calls"].size(), 39u);
    EXPECT_EQ(none["map_mem_calls"][0], 0xC800);
    EXPECT_EQ(none["map_mem_calls"][38], 0xEE00);
    EXPECT_TRUE(none["ports"].empty()); // no hardware touched

    const Json last = run_file("last-segment-only.toml");
    EXPECT_EQ(last["record"]["HwMem"], 0xEE00);

    const Json refused = run_file("controller-port-refused.toml");
    EXPECT_TRUE(refused["map_mem_calls"].empty());
    EXPECT_TRUE(refused["ports"].empty());

    const Json mapped = run_file("controller-ports-in-memory.toml");
    EXPECT_EQ(mapped["record"]["PcicPort"], sim::kIoAperture + 0x3E0);
    EXPECT_EQ(mapped["ports"][0]["port"], 0x3E0); // the mapping reaches the real ports
}

TEST(StallOverhead, VirtualTimeIncludesTheOverhead) {
    const Json r = run_file("slow-stall.toml");
    EXPECT_EQ(r["stall"]["us"], kTypicalStallUs);
    EXPECT_EQ(r["stall"]["clock_ns"], kTypicalStallUs * 1250);
}

} // namespace

namespace {

// A person reading the summary of a failed load sees what the driver found.
TEST(Summary, FailedLoadsSayWhatTheDriverFound) {
    struct Case {
        const char* file;
        std::vector<std::string> lines;
    };
    for (const Case& c :
         {Case{"foreign-card.toml",
               {"0x0 (a card stage failed)", "Product:      \"MultiT ch\" read from the card",
                "in bank 0 of the controller at 0x3E0, not configured (COR 0x00)", "no UART answers at 0x2F8"}},
          Case{"no-card.toml", {"Cards:        no socket holds a card"}},
          Case{"device-creation-fails.toml", {"0xC000009A (device not created)", "the driver has no device object"}}}) {
        sim::Machine m(sim::load_machine_file(kMachines / c.file));
        m.load();
        m.probe();
        const std::string summary = m.summary();
        for (const std::string& line : c.lines) EXPECT_NE(summary.find(line), std::string::npos) << c.file << "\n" << summary;
    }
}

} // namespace
