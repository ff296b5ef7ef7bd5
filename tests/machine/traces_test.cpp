// The driver's trace on whole simulated loads, line for line, at Debug 0, 1
// and 2; and the card cases that end early.
#include "sim/hw/cis_builder.hpp"
#include "sim/machine/machine.hpp"

#include <gtest/gtest.h>

namespace {

using Json = nlohmann::ordered_json;

Json run(sim::MachineSpec description, std::uint32_t debug) {
    description.debug = debug;
    sim::Machine m(description);
    m.load();
    m.probe();
    return m.report();
}

const std::string kRegistry = "Nuvalt: read registry serial1 status 0 userio 2f8 userirq 3\n";
const std::string kWindow = "Nuvalt: HwMem 0000c800\n";
const std::string kEnable = "Nuvalt: CmPcicEnable\n"
                            "Nuvalt: check passed PCIC id byte is 0x82\n"
                            "Nuvalt: check pcic offset 0\n";
const std::string kMemory = "Nuvalt: CmPcicEnableMemory 000003e0 0000c800\n"
                            "Nuvalt: CmPcicEnableMemory passed\n";
const std::string kSignature = "Signature 0x4e 0x75 0x76 0x61 0x6c 0x74 0x20 0x54 0x68 0x69 0x6e 0x50 0x6f 0x63 "
                               "0x6b 0x65 0x74 0x20 0x4d 0x6f 0x64 0x65 0x6d 0x0 \n";
const std::string kTail = "Nuvalt: signature passed\n"
                          "Nuvalt: CmPcicEnableIo\n"
                          "Nuvalt: CmPcicEnableIo passed\n"
                          "Nuvalt: CmPcicEnableIrq\n"
                          "Nuvalt: CmPcicEnableIrq passed\n"
                          "Nuvalt: CmWriteCor\n"
                          "Nuvalt: CMCFG PASSED -----------------------\n";

TEST(Trace, TypicalBootAtEachDebugLevel) {
    EXPECT_EQ(run(sim::default_machine(), 0)["trace"], "");
    EXPECT_EQ(run(sim::default_machine(), 1)["trace"], kRegistry + kWindow + kEnable + kMemory +
                                                          "Nuvalt: CmParseTuples\n" + kSignature +
                                                          "Nuvalt: ParseCor 11 io 2f8\n" + kTail);
    EXPECT_EQ(run(sim::default_machine(), 2)["trace"],
              kRegistry + kEnable + kMemory + "Nuvalt: CmParseTuples\n" + kSignature + kTail);
}

// COM port 0x3E8 is the built-in card's third entry: the two entries before
// it are examined and passed over.
TEST(Trace, EntriesAreExaminedInChainOrderUntilOneMatches) {
    sim::MachineSpec description = sim::default_machine();
    description.registry = {{"Serial1", {{"PortAddress", false, 0x3E8, {}}, {"Interrupt", false, 5, {}}}}};
    const Json r = run(description, 1);
    const std::string trace = r["trace"];
    EXPECT_NE(trace.find("Nuvalt: ParseCor 11 io 2f8\nNuvalt: ParseCor 13 io 3f8\nNuvalt: ParseCor 15 io 3e8\n"
                         "Nuvalt: signature passed\n"),
              std::string::npos)
        << trace;
    EXPECT_EQ(r["record"]["ConfigIndex"], 0x15);
    EXPECT_EQ(r["cards"][0]["cor"], 0x15 | 0x51);
    EXPECT_EQ(r["uart"], Json::parse(R"({"found": true, "port": 1000, "irq": 5})"));
}

TEST(Trace, SecondSocketChoices) {
    struct Case {
        std::uint8_t id;
        const char* second_attempt;
        std::uint32_t socket, bus_port;
    };
    for (const Case& c : {Case{0x83, "Nuvalt: check pcic offset 40\n", 1, 0x3E0},
                          Case{0x84, "Nuvalt: check vlsi offset 80\n", 2, 0x3E4}}) {
        sim::MachineSpec description = sim::default_machine();
        description.controllers = {{0x3E0, c.id}};
        if (c.id == 0x84) description.controllers.push_back({0x3E4, c.id});
        description.sockets[0].card = "none";
        description.sockets[0].cis.clear();
        description.sockets[1].bank = static_cast<int>(c.socket);
        description.sockets[1].controller = static_cast<std::uint16_t>(c.bus_port);
        description.sockets[1].card = "nuvalt";
        description.sockets[1].cis = sim::ModemCard::builtin_cis();
        const Json r = run(description, 2);
        char id_line[64];
        std::snprintf(id_line, sizeof id_line, "Nuvalt: check passed PCIC id byte is 0x%02X\n", c.id);
        const std::string expected_start =
            kRegistry + "Nuvalt: CmPcicEnable\n" + id_line + "Nuvalt: check pcic offset 0\n" + c.second_attempt;
        EXPECT_EQ(r["trace"].get<std::string>().substr(0, expected_start.size()), expected_start);
        EXPECT_EQ(r["status"], 1);
        EXPECT_EQ(r["record"]["Socket"], c.socket);
        EXPECT_EQ(r["record"]["PcicBusPort"], c.bus_port);
        EXPECT_EQ(r["uart"]["found"], true);
    }
}

TEST(Trace, ControllerRefusedOrNoCard) {
    sim::MachineSpec none = sim::default_machine();
    none.controllers.clear();
    none.sockets.clear();
    EXPECT_EQ(run(none, 2)["trace"], kRegistry + "Nuvalt: CmPcicEnable\n"
                                                 "Nuvalt: checkpcic failed, PCIC id byte is 0xFF\n");

    sim::MachineSpec old = sim::default_machine();
    old.controllers[0].id = 0x81;
    EXPECT_EQ(run(old, 2)["trace"], kRegistry + "Nuvalt: CmPcicEnable\n"
                                                "Nuvalt: checkpcic failed, PCIC id byte is 0x81\n");

    sim::MachineSpec empty = sim::default_machine();
    empty.sockets[0].card = "none";
    empty.sockets[0].cis.clear();
    const Json r = run(empty, 2);
    EXPECT_EQ(r["trace"], kRegistry + kEnable + "Nuvalt: CmPcicEnable failed\n");
    EXPECT_EQ(r["status"], 0);
}

// A card that reads like the modem but names another maker: the entry is
// chosen, the product string is refused, and nothing after that runs: no
// I/O window, no interrupt steering, no COR.
TEST(Trace, ForeignProductStringStopsBeforeTheIoWindow) {
    using B = sim::CisBuilder;
    B cis;
    cis.tuple(0x15, B::vers1({"Acme", "ThinPocket Modem"}))
        .tuple(0x1A, B::config(0x3F8, 0x11))
        .tuple(0x1B, {0x11, 0x01, 0xEA, 0x00, 0xF8, 0x02})
        .end();
    sim::MachineSpec description = sim::default_machine();
    description.sockets[0].cis = cis.packed();
    const Json r = run(description, 1);
    const std::string trace = r["trace"];
    EXPECT_NE(trace.find("Nuvalt: ParseCor 11 io 2f8\nNuvalt: signature failed\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("CmPcicEnableIo"), std::string::npos);
    EXPECT_EQ(r["status"], 0);
    EXPECT_EQ(r["record"]["Signature"], "Acme"); // up to the zero that ends the maker's name
    const Json& regs = r["controllers"][0]["registers"];
    EXPECT_EQ(regs[0x06], 0x21); // memory window 0 only
    EXPECT_EQ(regs[0x03], 0x60); // I/O interface, no interrupt level
    EXPECT_EQ(r["cards"][0]["io_mode"], false);
    EXPECT_EQ(r["uart"]["found"], false);
}

} // namespace
