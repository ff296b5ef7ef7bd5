// The host executable: environment, registry file in and out, exit status.
// Each run is a new session without a controlling terminal, so the key
// wait ends at once with -1 (status 255).
#include "app.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dialtrim::test {
namespace {

namespace fs = std::filesystem;

struct Exit {
    int status = -1;
    std::string out, err;
};

// Runs the executable with the environment entries and arguments.
Exit RunExe(const std::vector<std::string> &env, const std::vector<std::string> &args)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        std::vector<std::string> all = {DIALTRIM_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv, envp;
        for (auto &a : all)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        for (auto &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        execve(DIALTRIM_EXE, argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Exit e;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, 10000) > 0) {
        for (auto &f : fds) {
            if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            ssize_t n = read(f.fd, buf, sizeof buf);
            if (n <= 0) {
                close(f.fd);
                f.fd = -1;
                --open;
                continue;
            }
            (f.fd == out[0] ? e.out : e.err).append(buf, static_cast<std::size_t>(n));
        }
    }
    for (auto &f : fds)
        if (f.fd >= 0)
            close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    e.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return e;
}

class Exe : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("dialtrim-exe-" + std::to_string(::getpid()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = dir_ / "modems.reg";
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Write(const std::vector<std::uint8_t> &image)
    {
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char *>(image.data()),
                                                     static_cast<std::streamsize>(image.size()));
    }
    std::vector<std::uint8_t> Read() const
    {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    ino_t Inode() const
    {
        struct stat st {};
        ::stat(path_.c_str(), &st);
        return st.st_ino;
    }
    std::string Registry() const { return "DIALTRIM_REGISTRY=" + path_.string(); }
    fs::path dir_, path_;
};

const std::string kModems = ModemRegistry({{0, {Str("Nuvalt ThinPocket Modem")}}});

TEST_F(Exe, DefaultWalkWritesTheFileBackAndReportsTheKeyRead)
{
    Write(Bytes(WithCrLf(kModems)));
    Exit e = RunExe({Registry()}, {});
    EXPECT_EQ(e.status, 255) << "no terminal: the key read gives -1";
    EXPECT_EQ(e.out, kBanner + "NUVALT THINPOCKET MODEM has had DialSuffix removed\nPress any key to continue ...\n");
    EXPECT_EQ(e.err, "");
    std::string text = WithCrLf(kModems);
    text.replace(text.find("\"DialSuffix\"=\";\""), 16, "\"DialSuffix\"=\"\"");
    EXPECT_EQ(Read(), Bytes(text));
}

TEST_F(Exe, ResetOfAUnicodeFileKeepsItsFormat)
{
    std::string text = WithCrLf(ModemRegistry({{0, {Str("Nuvalt ThinPocket Modem"), true, Str("")}}}));
    Write(Utf16Image(text));
    Exit e = RunExe({Registry(), "DIALTRIM_PLATFORM=1"}, {"-U"});
    EXPECT_EQ(e.status, 0);
    text.replace(text.find("\"DialSuffix\"=\"\""), 15, "\"DialSuffix\"=\";\"");
    EXPECT_EQ(Read(), Utf16Image(text));
}

struct Untouched {
    const char *name;
    std::vector<std::string> env; // besides DIALTRIM_REGISTRY
    std::vector<std::string> args;
    std::string image;            // the file's content
    int status;
    std::string out;              // after the banner, or the whole output when empty banner
    std::string err;              // expected part of standard error
};

void PrintTo(const Untouched &c, std::ostream *os) { *os << c.name; }

class ExeUntouched : public Exe, public testing::WithParamInterface<Untouched> {};

TEST_P(ExeUntouched, LeavesTheFileAlone)
{
    const Untouched &c = GetParam();
    Write(Bytes(c.image));
    ino_t inode = Inode();
    std::vector<std::string> env = c.env;
    env.push_back(Registry());
    Exit e = RunExe(env, c.args);
    EXPECT_EQ(e.status, c.status);
    EXPECT_EQ(e.out, c.status == 2 ? "" : kBanner + c.out);
    EXPECT_NE(e.err.find(c.err), std::string::npos) << e.err;
    EXPECT_EQ(Read(), Bytes(c.image));
    EXPECT_EQ(Inode(), inode) << "not even rewritten";
}

const Untouched kUntouched[] = {
    {"PlatformRefused", {"DIALTRIM_PLATFORM=2"}, {"/u"}, kModems, 26,
     "This utility is for Windows 95 only\nNo changes have been made\n", ""},
    {"UsageText", {}, {"/x"}, kModems, 0, "Usage: DIALTRIM [/u]\n/u Resets the modem settings\n", ""},
    {"NothingToChange", {}, {}, ModemRegistry({{0, {Str("Hayes")}}}), 255,
     "Unable to modify modem settings.\nPress any key to continue ...\n", ""},
    {"PlatformNotANumber", {"DIALTRIM_PLATFORM=win95"}, {}, kModems, 2, "", "DIALTRIM_PLATFORM must be a platform id"},
    {"BadFile", {}, {}, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"Model\"=\"open\n", 2, "", "modems.reg:4: string is not closed"},
    {"NotARegistryFile", {}, {"/u"}, "hello\n", 2, "", "modems.reg:1: not a registry file"},
};

INSTANTIATE_TEST_SUITE_P(Runs, ExeUntouched, testing::ValuesIn(kUntouched),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Exe, NamesWhatIsMissing)
{
    Exit e = RunExe({}, {});
    EXPECT_EQ(e.status, 2);
    EXPECT_NE(e.err.find("DIALTRIM_REGISTRY is not set"), std::string::npos) << e.err;
    e = RunExe({Registry()}, {});
    EXPECT_EQ(e.status, 2);
    EXPECT_NE(e.err.find("modems.reg: cannot open: No such file or directory"), std::string::npos) << e.err;
}

// The host program in-process, with its console given by the test.
class HostProgram : public Exe {
protected:
    int Run(std::vector<std::string> args, std::function<int()> readKey)
    {
        args.insert(args.begin(), "dialtrim");
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        AppConsole console;
        console.output = [&](std::string_view text) {
            out_ += text;
            if (onOutput_)
                onOutput_();
        };
        console.errors = [&](std::string_view text) { err_ += text; };
        console.readKey = std::move(readKey);
        return RunHostProgram(static_cast<int>(args.size()), argv.data(), path_.c_str(), nullptr, console);
    }
    std::string out_, err_;
    std::function<void()> onOutput_;
};

TEST_F(HostProgram, WritesTheFileBackBeforeTheKeyWait)
{
    // A run ended at the prompt (Ctrl+C, a closed window) keeps what the
    // lines above the prompt said was done.
    Write(Bytes(kModems));
    std::vector<std::uint8_t> atKeyWait;
    int status = Run({}, [&] {
        atKeyWait = Read();
        return 'q';
    });
    EXPECT_EQ(status, 'q');
    std::string expected = kModems;
    expected.replace(expected.find("\"DialSuffix\"=\";\""), 16, "\"DialSuffix\"=\"\"");
    EXPECT_EQ(atKeyWait, Bytes(expected));
    EXPECT_EQ(Read(), Bytes(expected));
}

TEST_F(HostProgram, AFailedWriteBackIsReportedAndFailsTheRun)
{
    Write(Bytes(kModems));
    // The directory goes away while the walk prints, so the file cannot be
    // replaced.
    onOutput_ = [&] {
        if (out_.find("has had DialSuffix removed") != std::string::npos)
            fs::remove_all(dir_);
    };
    int status = Run({}, [] { return 'q'; });
    EXPECT_EQ(status, kHostFailure);
    EXPECT_NE(err_.find("modems.reg: cannot create a temporary file"), std::string::npos) << err_;
    EXPECT_NE(err_.find("(the changes shown were not saved)"), std::string::npos) << err_;
}

TEST_F(HostProgram, ResetEndsInsideTheProgramAndStillWritesBack)
{
    const std::string before = ModemRegistry({{0, {Str("Nuvalt ThinPocket Modem"), true, Str("")}}});
    Write(Bytes(before));
    int waits = 0;
    EXPECT_EQ(Run({"/u"}, [&] { return ++waits; }), 0);
    EXPECT_EQ(waits, 0);
    std::string expected = before;
    expected.replace(expected.find("\"DialSuffix\"=\"\""), 15, "\"DialSuffix\"=\";\"");
    EXPECT_EQ(Read(), Bytes(expected));
}

} // namespace
} // namespace dialtrim::test
