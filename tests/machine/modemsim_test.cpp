// modemsim's command line: its exit statuses, the JSON report, the
// summary, and its errors for bad input.
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Result {
    int status;
    std::string out; // standard output and error together
};

Result modemsim(const std::string& args) {
    const std::string cmd = std::string(MODEMSIM) + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    Result r{-1, {}};
    if (!p) return r;
    std::array<char, 4096> buf;
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) r.out.append(buf.data(), n);
    const int w = pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

const std::string kMachines = MACHINES_DIR;

TEST(Modemsim, DefaultMachinePrintsASummary) {
    const Result r = modemsim("");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("typical boot"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0x1 (configured)"), std::string::npos) << r.out;
}

TEST(Modemsim, JsonReportWithDebugOverrideAndUnload) {
    const Result r = modemsim(kMachines + "/typical-boot.toml --json --debug 2 --unload");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_EQ(report["record"]["Debug"], 2);
    EXPECT_NE(report["trace"].get<std::string>().find("Nuvalt: CMCFG PASSED"), std::string::npos);
    EXPECT_TRUE(report.contains("unload"));
}

TEST(Modemsim, AFailedLoadStillExitsZero) {
    const Result r = modemsim(kMachines + "/no-card.toml");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("a card stage failed"), std::string::npos) << r.out;
}

TEST(Modemsim, BadInputExitsTwoWithAClearMessage) {
    const auto dir = std::filesystem::temp_directory_path() / "modemsim-cli-test";
    std::filesystem::create_directories(dir);
    const std::string bad = (dir / "bad.toml").string();
    std::ofstream(bad) << "[hal]\nio_space = \"sideways\"\n";
    struct Case {
        std::string args;
        std::string message;
    };
    for (const Case& c : {Case{bad, bad + ":2: hal.io_space: must be \"io\", \"memory\" or \"refuse\""},
                          Case{"/nonexistent.toml", "/nonexistent.toml: cannot open the machine file"},
                          Case{"--debug", "--debug needs a value"},
                          Case{"--debug x", "--debug: not a 32-bit unsigned number: x"},
                          Case{"--verbose", "unknown option --verbose"},
                          Case{"a.toml b.toml", "only one machine file may be given"}}) {
        const Result r = modemsim(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.args << "\n" << r.out;
    }
    std::filesystem::remove_all(dir);
}

TEST(Modemsim, HelpDescribesTheCommandLine) {
    const Result r = modemsim("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: modemsim [MACHINE.toml] [--debug N] [--json] [--unload]"), std::string::npos);
}

} // namespace
