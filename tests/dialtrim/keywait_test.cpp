// The key wait through a real pseudo-terminal that is the controlling
// terminal of a child process.
#include "keywait.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace dialtrim::test {
namespace {

constexpr int kBoundMs = 5000; // bound of every wait on the child

bool SameMode(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Reads exactly n bytes within the bound; false on time out or end.
bool ReadWithin(int fd, void *buf, std::size_t n)
{
    auto *p = static_cast<char *>(buf);
    while (n > 0) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, kBoundMs) <= 0)
            return false;
        ssize_t r = read(fd, p, n);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// What the child reports after its key wait.
struct Report {
    int key;
    int modeRestored;
    int leftOver; // bytes of the key still unread on the terminal
};

// In the child: bytes readable on the terminal right now.
int DrainTerminal()
{
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    termios saved{}, raw{};
    tcgetattr(fd, &saved);
    raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &raw);
    char buf[64];
    int n = static_cast<int>(read(fd, buf, sizeof buf));
    tcsetattr(fd, TCSANOW, &saved);
    close(fd);
    return n < 0 ? 0 : n;
}

// A child on a new pseudo-terminal, waiting for a key. It writes 'R' to the
// report pipe once the terminal is in key mode, then its Report. Standard
// input is a pipe holding a byte, which must not end the wait.
struct TerminalChild {
    pid_t pid = -1;
    int master = -1;
    int report = -1;

    TerminalChild()
    {
        int pipeFds[2], inputFds[2];
        if (pipe(pipeFds) != 0 || pipe(inputFds) != 0)
            return;
        pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            close(pipeFds[0]);
            int out = pipeFds[1];
            (void)!write(inputFds[1], "z", 1);
            dup2(inputFds[0], STDIN_FILENO);
            termios before{};
            int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
            tcgetattr(tty, &before);
            KeyWaitOptions options;
            options.onReady = [out] { (void)!write(out, "R", 1); };
            Report r{};
            r.key = WaitForKey(options);
            termios after{};
            tcgetattr(tty, &after);
            r.modeRestored = SameMode(before, after);
            r.leftOver = DrainTerminal();
            (void)!write(out, &r, sizeof r);
            _exit(0);
        }
        close(pipeFds[1]);
        close(inputFds[0]);
        close(inputFds[1]);
        report = pipeFds[0];
    }
    ~TerminalChild()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (master >= 0)
            close(master);
        if (report >= 0)
            close(report);
    }
    bool Ready()
    {
        char c = 0;
        return ReadWithin(report, &c, 1) && c == 'R';
    }
    void Type(const std::string &bytes) { ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    int Wait()
    {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }
};

struct KeyCase {
    const char *name;
    std::string typed;
    int key;
};

void PrintTo(const KeyCase &c, std::ostream *os) { *os << c.name; }

class Keys : public testing::TestWithParam<KeyCase> {};

TEST_P(Keys, EndTheWaitWithTheirCodeAndRestoreTheTerminal)
{
    TerminalChild child;
    ASSERT_GT(child.pid, 0);
    termios initial{};
    ASSERT_EQ(tcgetattr(child.master, &initial), 0);
    ASSERT_TRUE(child.Ready());
    termios during{};
    ASSERT_EQ(tcgetattr(child.master, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u) << "no line input, no echo during the wait";

    child.Type(GetParam().typed);
    Report r{};
    ASSERT_TRUE(ReadWithin(child.report, &r, sizeof r)) << "the wait did not end";
    EXPECT_EQ(r.key, GetParam().key);
    EXPECT_TRUE(r.modeRestored);
    EXPECT_EQ(r.leftOver, 0) << "the whole key sequence is consumed";

    // Nothing was echoed back to the terminal.
    pollfd pfd{child.master, POLLIN, 0};
    if (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN)) {
        char buf[64];
        ssize_t n = read(child.master, buf, sizeof buf);
        EXPECT_LE(n, 0) << std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    int status = child.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

const KeyCase kKeys[] = {
    {"Letter", "x", 'x'},
    {"Enter", "\r", 13},
    {"ControlA", "\x01", 1},
    {"Utf8Letter", "\xc3\xa9", 0xE9},
    {"LoneEscape", "\x1b", 27},
    {"CursorUp", "\x1b[A", 224},
    {"CursorLeftApplicationMode", "\x1bOD", 224},
    {"CursorRightWithControl", "\x1b[1;5C", 224},
    {"Delete", "\x1b[3~", 224},
    {"F12", "\x1b[24~", 224},
    {"F1", "\x1bOP", 0},
    {"F5", "\x1b[15~", 0},
    {"AltX", "\x1bx", 0},
};

INSTANTIATE_TEST_SUITE_P(Terminal, Keys, testing::ValuesIn(kKeys),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(KeyWait, InterruptionRestoresTheTerminal)
{
    TerminalChild child;
    ASSERT_GT(child.pid, 0);
    termios initial{};
    ASSERT_EQ(tcgetattr(child.master, &initial), 0);
    ASSERT_TRUE(child.Ready());
    child.Type("\x03"); // Ctrl+C: SIGINT from the terminal
    Report r{};
    EXPECT_FALSE(ReadWithin(child.report, &r, sizeof r)) << "the child should have been ended";
    int status = child.Wait();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    termios after{};
    ASSERT_EQ(tcgetattr(child.master, &after), 0);
    EXPECT_TRUE(SameMode(initial, after));
}

TEST(KeyWait, WithoutATerminalEndsAtOnceWithMinusOne)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        setsid(); // a new session has no controlling terminal
        int key = WaitForKey();
        (void)!write(fds[1], &key, sizeof key);
        _exit(0);
    }
    close(fds[1]);
    int key = 0;
    EXPECT_TRUE(ReadWithin(fds[0], &key, sizeof key)) << "the wait did not end";
    EXPECT_EQ(key, -1);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
}

TEST(KeyWait, AFileThatIsNotATerminalGivesMinusOne)
{
    KeyWaitOptions options;
    options.terminal = "/dev/null";
    EXPECT_EQ(WaitForKey(options), -1);
    options.terminal = "/nonexistent/tty";
    EXPECT_EQ(WaitForKey(options), -1);
}

} // namespace
} // namespace dialtrim::test
