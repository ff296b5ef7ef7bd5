// DIALTRIM.EXE on a real Win32 implementation: Wine, in a fresh prefix made
// for this run, with the Windows version set to Windows 95 for DIALTRIM.EXE
// alone. For each registry fixture and command line, the fixture goes into
// Wine's registry through Wine's regedit, DIALTRIM.EXE runs, and its console
// output, exit status and the DialSuffix values read back through regedit's
// export must agree with the host dialtrim run on the same fixture.
//
// Every child runs in a session of its own (no controlling terminal, so
// neither program finds a console to wait on), with standard input from
// /dev/null and a time limit.
#include "regfile.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

constexpr const char *kModemClass = R"(HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem)";

struct Child {
    int status = -1; // exit status, or -1 when killed or not started
    bool timedOut = false;
    std::string out; // standard output
};

// The process environment changed by env: "NAME=value" sets, "NAME"
// removes.
std::vector<std::string> Environment(const std::vector<std::string> &env)
{
    std::vector<std::string> environment;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string &change : env)
            replaced = replaced || change.substr(0, change.find('=')) == name;
        if (!replaced)
            environment.push_back(entry);
    }
    for (const std::string &change : env)
        if (change.find('=') != std::string::npos)
            environment.push_back(change);
    return environment;
}

std::vector<char *> Pointers(const std::vector<std::string> &texts)
{
    std::vector<char *> out;
    for (const std::string &t : texts)
        out.push_back(const_cast<char *>(t.c_str()));
    out.push_back(nullptr);
    return out;
}

// Waits for pid until the deadline; kills its session when it is passed.
bool Reap(pid_t pid, std::chrono::steady_clock::time_point deadline, int &wstatus)
{
    for (;;) {
        if (waitpid(pid, &wstatus, WNOHANG) == pid)
            return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            return false;
        }
        usleep(20000);
    }
}

// Runs argv with the environment changed by env, in a new session, stdin
// from /dev/null, stderr to errPath; kills the whole session after
// timeoutSeconds.
Child Run(const std::vector<std::string> &argv, const std::vector<std::string> &env, int timeoutSeconds,
          const std::string &errPath = "/dev/null")
{
    std::vector<std::string> environment = Environment(env);
    std::vector<char *> args = Pointers(argv), envp = Pointers(environment);

    Child child;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return child;
    pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return child;
    }
    if (pid == 0) {
        setsid();
        int in = open("/dev/null", O_RDONLY);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || err < 0)
            _exit(127);
        dup2(in, 0);
        dup2(pipeFds[1], 1);
        dup2(err, 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[1]);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool exited = false;
    int wstatus = 0;
    for (;;) {
        if (!exited && waitpid(pid, &wstatus, WNOHANG) == pid)
            exited = true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            child.timedOut = true;
            break;
        }
        // Once the child is gone, take what is left without waiting for
        // the pipe to close: a server it started may still hold it.
        struct pollfd p {pipeFds[0], POLLIN, 0};
        int ready = poll(&p, 1, exited ? 0 : static_cast<int>(std::min<long long>(left.count(), 50)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0) {
            char buffer[4096];
            ssize_t n = read(pipeFds[0], buffer, sizeof(buffer));
            if (n > 0) {
                child.out.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 && !exited) {
                // The pipe closed; the child is about to end.
                waitpid(pid, &wstatus, 0);
                exited = true;
            }
        }
        if (exited)
            break;
    }
    close(pipeFds[0]);
    if (child.timedOut) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        if (!exited)
            waitpid(pid, &wstatus, 0);
        return child;
    }
    if (WIFEXITED(wstatus))
        child.status = WEXITSTATUS(wstatus);
    return child;
}

// Runs argv on a new pseudo-terminal, its controlling terminal, and types
// keys once the output shows prompt. Output and status as Run gives them.
Child OnTerminal(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                 const std::string &prompt, const std::string &keys, int timeoutSeconds,
                 const std::string &errPath)
{
    std::vector<std::string> environment = Environment(env);
    std::vector<char *> args = Pointers(argv), envp = Pointers(environment);
    Child child;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0)
        return child;
    if (pid == 0) {
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0)
            dup2(err, 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool typed = false;
    while (std::chrono::steady_clock::now() < deadline) {
        struct pollfd p {master, POLLIN, 0};
        int ready = poll(&p, 1, 50);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0) {
            char buffer[4096];
            ssize_t n = read(master, buffer, sizeof(buffer));
            if (n <= 0)
                break; // every holder of the terminal is gone
            child.out.append(buffer, static_cast<std::size_t>(n));
        }
        if (!typed && child.out.find(prompt) != std::string::npos) {
            typed = write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
        }
        int wstatus = 0;
        if (waitpid(pid, &wstatus, WNOHANG) == pid) {
            close(master);
            if (WIFEXITED(wstatus))
                child.status = WEXITSTATUS(wstatus);
            return child;
        }
    }
    int wstatus = 0;
    bool ended = Reap(pid, std::chrono::steady_clock::now() + std::chrono::seconds(5), wstatus);
    close(master);
    child.timedOut = !ended;
    if (ended && WIFEXITED(wstatus))
        child.status = WEXITSTATUS(wstatus);
    return child;
}

// The Wine prefix of this run: made once, shared by every case.
class WinePrefix : public testing::Environment {
public:
    void SetUp() override
    {
#if defined(DIALTRIM_EXE) && defined(WINE_PROGRAM)
        char pattern[] = "/tmp/dialtrim-wine-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            problem_ = std::string("mkdtemp: ") + std::strerror(errno);
            return;
        }
        dir_ = pattern;
        prefix_ = dir_ + "/prefix";
        log_ = dir_ + "/wine.log";
        env_ = {"WINEPREFIX=" + prefix_, "WINEDEBUG=-all", "WINEARCH=win32",
                // No Mono or Gecko set-up, no display.
                "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY", "WAYLAND_DISPLAY"};

        Child boot = Wine({"wineboot", "-i"}, 180);
        if (boot.timedOut || boot.status != 0) {
            problem_ = "wineboot failed (status " + std::to_string(boot.status) + "); see " + log_;
            return;
        }
        // One server for the whole run instead of one per call; should the
        // run be cut short, it still ends 10 s after its last client.
        Run({WINESERVER_PROGRAM, "-p10"}, env_, 30, log_);

        // Windows 95 for DIALTRIM.EXE only.
        std::string version = dir_ + "/win95.reg";
        std::ofstream(version, std::ios::binary)
            << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\DIALTRIM.EXE]\r\n"
               "\"Version\"=\"win95\"\r\n\r\n";
        if (!Import(version)) {
            problem_ = "could not set the Windows version of DIALTRIM.EXE";
            return;
        }
        std::ofstream(dir_ + "/clear.reg", std::ios::binary)
            << "REGEDIT4\r\n\r\n[-" << kModemClass << "]\r\n\r\n";

        // The image under its own name, and a copy under another name that
        // no application default names: Wine's default version for it.
        fs::create_directories(dir_ + "/win95");
        fs::create_directories(dir_ + "/nt");
        fs::copy_file(DIALTRIM_EXE, dir_ + "/win95/DIALTRIM.EXE");
        fs::copy_file(DIALTRIM_EXE, dir_ + "/nt/DIALNT.EXE");
        ready_ = true;
#else
        problem_ = "DIALTRIM.EXE or Wine was not found when the build was configured";
#endif
    }

    void TearDown() override
    {
#ifdef WINESERVER_PROGRAM
        if (!prefix_.empty())
            Run({WINESERVER_PROGRAM, "-k"}, env_, 30);
#endif
        if (!dir_.empty() && std::getenv("KEEP_WINE_PREFIX") == nullptr) {
            std::error_code ec;
            fs::remove_all(dir_, ec);
        }
    }

    bool ready() const { return ready_; }
    const std::string &problem() const { return problem_; }
    const std::string &dir() const { return dir_; }

    Child Wine(std::vector<std::string> argv, int timeoutSeconds = 60) const
    {
#ifdef WINE_PROGRAM
        argv.insert(argv.begin(), WINE_PROGRAM);
#endif
        return Run(argv, env_, timeoutSeconds, log_);
    }

    Child WineOnTerminal(std::vector<std::string> argv, const std::string &prompt, const std::string &keys) const
    {
#ifdef WINE_PROGRAM
        argv.insert(argv.begin(), WINE_PROGRAM);
#endif
        return OnTerminal(argv, env_, prompt, keys, 60, log_);
    }

    bool Import(const std::string &regFile) const
    {
        Child c = Wine({"regedit", "/S", regFile});
        return !c.timedOut && c.status == 0;
    }

    // Replaces the modem class in Wine's registry by the fixture's.
    bool Load(const std::string &fixture) const { return Import(dir_ + "/clear.reg") && Import(fixture); }

    // The modem class as Wine's regedit exports it.
    std::optional<dialtrim::RegistryFile> Export(std::string &error) const
    {
        std::string path = dir_ + "/export.reg";
        std::error_code ec;
        fs::remove(path, ec);
        Child c = Wine({"regedit", "/E", path, kModemClass});
        if (c.timedOut || c.status != 0) {
            error = "regedit /E failed";
            return std::nullopt;
        }
        return dialtrim::RegistryFile::Load(path, error);
    }

private:
    bool ready_ = false;
    std::string problem_;
    std::string dir_, prefix_, log_;
    std::vector<std::string> env_;
};

WinePrefix *gWine = nullptr;

struct Run95 {
    std::string out;
    int status = -1;
};

// The host dialtrim on a copy of the fixture; its output with CR LF line
// ends, as the target's text-mode output writes them.
Run95 Host(const std::string &fixture, const std::vector<std::string> &args, const std::string &copy,
           int platform, std::string &error)
{
    fs::copy_file(fixture, copy, fs::copy_options::overwrite_existing);
    std::vector<std::string> argv{HOST_DIALTRIM};
    argv.insert(argv.end(), args.begin(), args.end());
    Child c = Run(argv, {"DIALTRIM_REGISTRY=" + copy, "DIALTRIM_PLATFORM=" + std::to_string(platform)}, 30);
    if (c.timedOut)
        error = "host dialtrim timed out";
    Run95 r;
    for (char ch : c.out) {
        if (ch == '\n')
            r.out += '\r';
        r.out += ch;
    }
    r.status = c.status;
    return r;
}

// DialSuffix of every instance a walk can reach in these fixtures, as the
// "A" calls see it, or "absent".
std::vector<std::string> Suffixes(const dialtrim::RegistryFile &reg)
{
    std::vector<std::string> out;
    for (int i = 0; i < 10; ++i) {
        char key[160];
        std::snprintf(key, sizeof key, "%s\\%04d\\Settings", kModemClass, i);
        auto v = reg.Query(key, "DialSuffix");
        std::string text = "absent";
        if (v) {
            text = "type " + std::to_string(v->type) + ":";
            for (std::uint8_t b : v->data)
                text += " " + std::to_string(b);
        }
        out.push_back(std::to_string(i) + " " + text);
    }
    return out;
}

std::string Fixture(const std::string &name)
{
    if (name.rfind("wine/", 0) == 0)
        return std::string(WINE_FIXTURES) + "/" + name.substr(5);
    return std::string(DIALTRIM_FIXTURES) + "/" + name;
}

struct Case {
    const char *label;
    const char *fixture; // "wine/..." for this folder's fixtures
    std::vector<std::string> args;
    int status; // what both must report
};

// A table of runs that need the shared Wine prefix: skipped when Wine was
// not there at build time, failed when the prefix could not be made.
template <class Param>
class WineRuns : public testing::TestWithParam<Param> {
protected:
    void SetUp() override
    {
        if (!gWine->ready()) {
            if (gWine->problem().find("not found when the build") != std::string::npos)
                GTEST_SKIP() << gWine->problem();
            FAIL() << gWine->problem();
        }
    }
};

class UnderWine : public WineRuns<Case> {};

// Windows 95: output, status and the DialSuffix values as the host's.
TEST_P(UnderWine, Windows95RunAgreesWithTheHost)
{
    const Case &c = GetParam();
    std::string fixture = Fixture(c.fixture);
    ASSERT_TRUE(gWine->Load(fixture)) << "regedit could not import " << fixture;

    std::vector<std::string> argv{gWine->dir() + "/win95/DIALTRIM.EXE"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Child target = gWine->Wine(argv);
    ASSERT_FALSE(target.timedOut) << "DIALTRIM.EXE did not end";

    std::string error;
    auto exported = gWine->Export(error);
    ASSERT_TRUE(exported) << error;
    Run95 host = Host(fixture, c.args, gWine->dir() + "/host.reg", 1, error);
    ASSERT_EQ(error, "");
    auto hostReg = dialtrim::RegistryFile::Load(gWine->dir() + "/host.reg", error);
    ASSERT_TRUE(hostReg) << error;

    EXPECT_EQ(target.out, host.out);
    for (std::size_t i = 0; i < target.out.size(); ++i) {
        if (target.out[i] == '\n') {
            ASSERT_TRUE(i > 0 && target.out[i - 1] == '\r') << "a line feed without CR at " << i;
        }
    }
    EXPECT_EQ(target.status, c.status);
    EXPECT_EQ(host.status, c.status);
    EXPECT_EQ(Suffixes(*exported), Suffixes(*hostReg));
}

// Status 255: the key wait found no console (-1). 0: usage text, or a reset
// that changed a modem.
INSTANTIATE_TEST_SUITE_P(
    Fixtures, UnderWine,
    testing::Values(Case{"Win95Default", "win95.reg", {}, 255}, Case{"Win95Reset", "win95.reg", {"/u"}, 0},
                    Case{"Win95ResetUpperHyphen", "win95.reg", {"-U"}, 0},
                    Case{"MixedDefault", "mixed.reg", {}, 255}, Case{"MixedReset", "mixed.reg", {"/U"}, 0},
                    Case{"UnicodeDefault", "unicode.reg", {}, 255},
                    Case{"UnicodeReset", "unicode.reg", {"-u"}, 0},
                    Case{"EdgesDefault", "wine/edges.reg", {}, 255},
                    Case{"EdgesReset", "wine/edges.reg", {"/u"}, 0},
                    // A reset that changes nothing is followed by the default walk.
                    Case{"EmptyReset", "wine/empty.reg", {"/u"}, 255},
                    Case{"EmptyDefault", "wine/empty.reg", {}, 255},
                    // Refused command lines: usage text, nothing written.
                    Case{"UnknownSwitch", "win95.reg", {"/x"}, 0},
                    Case{"SwitchTooLong", "win95.reg", {"/uu"}, 0},
                    Case{"NoSlash", "win95.reg", {"u"}, 0},
                    Case{"EmptyArgument", "win95.reg", {""}, 0},
                    Case{"TwoArguments", "win95.reg", {"/u", "/u"}, 0},
                    Case{"QuotedBlank", "win95.reg", {"/u "}, 0}),
    [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.label); });

class UnderWineNt : public UnderWine {};

// Wine's default version is a Windows NT one: the two refusal lines after
// the banner, status 26, and the registry as imported.
TEST_P(UnderWineNt, NtVersionIsRefusedAndNothingChanges)
{
    const Case &c = GetParam();
    std::string fixture = Fixture(c.fixture);
    ASSERT_TRUE(gWine->Load(fixture));
    std::string error;
    auto before = gWine->Export(error);
    ASSERT_TRUE(before) << error;

    std::vector<std::string> argv{gWine->dir() + "/nt/DIALNT.EXE"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Child target = gWine->Wine(argv);
    ASSERT_FALSE(target.timedOut);
    auto after = gWine->Export(error);
    ASSERT_TRUE(after) << error;
    Run95 host = Host(fixture, c.args, gWine->dir() + "/host.reg", 2, error);
    ASSERT_EQ(error, "");

    const std::string refusal = "This utility is for Windows 95 only\r\nNo changes have been made\r\n";
    ASSERT_GE(target.out.size(), refusal.size());
    EXPECT_EQ(target.out.substr(target.out.size() - refusal.size()), refusal);
    EXPECT_EQ(target.out, host.out);
    EXPECT_EQ(target.status, c.status);
    EXPECT_EQ(host.status, c.status);
    EXPECT_EQ(Suffixes(*after), Suffixes(*before));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UnderWineNt,
                         testing::Values(Case{"Default", "win95.reg", {}, 26},
                                         Case{"Reset", "win95.reg", {"/u"}, 26},
                                         // The platform test comes before the command line.
                                         Case{"BadCommandLine", "win95.reg", {"/x", "y"}, 26}),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.label); });

struct KeyCase {
    const char *label;
    std::string keys;         // typed on the terminal
    std::vector<int> statuses; // the key codes that may end the wait
};

class KeyOnConsole : public WineRuns<KeyCase> {};

// With a console (Wine's, over a terminal), the key wait reads the console
// and the process reports the key's code.
TEST_P(KeyOnConsole, EndsTheWaitWithTheKeysCode)
{
    ASSERT_TRUE(gWine->Load(Fixture("win95.reg")));
    Child c = gWine->WineOnTerminal({gWine->dir() + "/win95/DIALTRIM.EXE"}, "Press any key", GetParam().keys);
    ASSERT_FALSE(c.timedOut) << "the key did not end the wait; output:\n" << c.out;
    EXPECT_NE(c.out.find("Press any key to continue ..."), std::string::npos);
    const std::vector<int> &allowed = GetParam().statuses;
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), c.status), allowed.end()) << "status " << c.status;
}

// Wine's terminal input does not mark the cursor block as the separate
// block, so a cursor key may come with either extended prefix there.
INSTANTIATE_TEST_SUITE_P(Keys, KeyOnConsole,
                         testing::Values(KeyCase{"Letter", "x", {'x'}}, KeyCase{"CapitalLetter", "Q", {'Q'}},
                                         KeyCase{"CursorLeft", "\x1b[D", {0, 224}}),
                         [](const testing::TestParamInfo<KeyCase> &info) { return std::string(info.param.label); });

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    gWine = new WinePrefix;
    testing::AddGlobalTestEnvironment(gWine); // owned by gtest
    return RUN_ALL_TESTS();
}
