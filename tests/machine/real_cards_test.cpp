// Real cards that nobody here wrote: the CIS images of Debian's
// firmware-linux-free (modems, serial and network cards), each run as the
// card of the typical machine. None of them is a ThinPocket modem, so every
// load must end with status 0 in the CIS stage, for the reason the driver's
// rules give for that image, and leave the card unconfigured.
#include "sim/machine/machine.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace {

using Json = nlohmann::ordered_json;

const std::filesystem::path kFirmware = "/lib/firmware/cis";

enum class Reason {
    NoVers1,      // no product-string tuple long enough to hold the string
    NoConfig,     // no configuration tuple in the chain from address 0
    NoEntryMatch, // configuration entries examined, none at 0x2F8
};

struct RealCard {
    const char* file;
    Reason reason;
    int entries_examined; // "ParseCor" lines at Debug 1
    const char* signature; // the record's product string, up to its first zero
};

class FirmwareCard : public ::testing::TestWithParam<RealCard> {};

TEST_P(FirmwareCard, EndsInTheCisStageUnconfigured) {
    const RealCard& c = GetParam();
    const auto path = kFirmware / c.file;
    ASSERT_TRUE(std::filesystem::exists(path)) << path << " missing: scripts/install-deps.sh installs firmware-linux-free";
    std::ifstream in(path, std::ios::binary);
    sim::MachineSpec description = sim::default_machine();
    description.sockets[0].cis.assign(std::istreambuf_iterator<char>(in), {});
    description.debug = 1;
    sim::Machine m(description);
    m.load();
    m.probe();
    const Json r = m.report();
    const std::string trace = r["trace"];

    EXPECT_EQ(r["status"], 0);
    // The CIS stage was the last to run: its entry line is there, nothing after it.
    EXPECT_NE(trace.find("Nuvalt: CmParseTuples\n"), std::string::npos);
    EXPECT_EQ(trace.find("signature"), std::string::npos);
    EXPECT_EQ(trace.find("CmPcicEnableIo"), std::string::npos);

    const bool read_signature = trace.find("Signature 0x") != std::string::npos;
    EXPECT_EQ(read_signature, c.reason != Reason::NoVers1);
    int entries = 0;
    for (std::size_t at = trace.find("Nuvalt: ParseCor"); at != std::string::npos; at = trace.find("Nuvalt: ParseCor", at + 1))
        ++entries;
    EXPECT_EQ(entries, c.entries_examined);
    if (c.reason != Reason::NoVers1) {
        EXPECT_EQ(r["record"]["Signature"], c.signature);
    }

    EXPECT_EQ(r["cards"][0]["io_mode"], false);
    EXPECT_EQ(r["uart"]["found"], false);
    EXPECT_EQ(r["controllers"][0]["registers"][0x06], 0x21); // the memory window alone
}

const RealCard kRealCards[] = {
        // Network cards whose first chain holds no configuration tuple.
        RealCard{"3CCFEM556.cis", Reason::NoConfig, 0, "3Com"},
        RealCard{"3CXEM556.cis", Reason::NoConfig, 0, "3Com"},
        RealCard{"DP83903.cis", Reason::NoConfig, 0, "Multif nction Card"},
        // Product-string tuples of 21 or 22 body bytes: too short to hold
        // the 23 characters the driver reads, so taken as missing.
        RealCard{"NE2K.cis", Reason::NoVers1, 0, ""},
        RealCard{"PCMLM28.cis", Reason::NoVers1, 0, ""},
        RealCard{"RS-COM-2P.cis", Reason::NoVers1, 0, ""},
        // Configuration entries in layouts the driver does not read (I/O
        // base 0); the stage ends at the fifth search or at the first one
        // that finds no entry.
        RealCard{"COMpad2.cis", Reason::NoEntryMatch, 4, "ADVANT CH"},
        RealCard{"COMpad4.cis", Reason::NoEntryMatch, 2, "ADVANT CH"},
        RealCard{"LA-PCM.cis", Reason::NoEntryMatch, 4, "Allied Telesis,K.K"},
        RealCard{"MT5634ZLX.cis", Reason::NoEntryMatch, 4, "MultiT ch"},
        RealCard{"PE-200.cis", Reason::NoEntryMatch, 1, "PMX    PE-200"},
        RealCard{"PE520.cis", Reason::NoEntryMatch, 1, "KTI"},
        RealCard{"SW_555_SER.cis", Reason::NoEntryMatch, 4, "Sierra Wireless"},
        RealCard{"SW_7xx_SER.cis", Reason::NoEntryMatch, 4, "Sierra Wireless"},
        RealCard{"SW_8xx_SER.cis", Reason::NoEntryMatch, 4, "Sierra Wireless"},
        RealCard{"tamarack.cis", Reason::NoEntryMatch, 1, "TAMARA K"},
};

INSTANTIATE_TEST_SUITE_P(
    Debian, FirmwareCard, ::testing::ValuesIn(kRealCards),
    [](const auto& info) {
        std::string n;
        for (char ch : std::string(info.param.file)) {
            if (ch == '.') break;
            n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return n;
    });

// Every image in the folder is in the table, so a new firmware release with
// a new card cannot slip past unchecked.
TEST(FirmwareCards, TableCoversEveryImage) {
    ASSERT_TRUE(std::filesystem::is_directory(kFirmware));
    std::set<std::string> listed, present;
    for (const RealCard& c : kRealCards) listed.insert(c.file);
    for (const auto& e : std::filesystem::directory_iterator(kFirmware))
        if (e.path().extension() == ".cis") present.insert(e.path().filename().string());
    EXPECT_EQ(listed, present) << "update the table of firmware cards";
}

} // namespace
