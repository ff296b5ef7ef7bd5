#include "keywait.hpp"

#include "codepage.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace dialtrim {
namespace {

// Shared with the signal handler: the terminal and its two modes.
volatile sig_atomic_t gTerminal = -1;
struct termios gSaved;
struct termios gKeyMode;

constexpr std::array<int, 5> kSignals = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP};

extern "C" void RestoreOnSignal(int sig)
{
    int savedErrno = errno;
    int fd = gTerminal;
    if (fd >= 0)
        tcsetattr(fd, TCSANOW, &gSaved);

    struct sigaction current {};
    sigaction(sig, nullptr, &current);
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig); // ends the process, or stops it for SIGTSTP

    // Continued after a stop: back to key mode for the rest of the wait.
    sigaction(sig, &current, nullptr);
    fd = gTerminal;
    if (fd >= 0)
        tcsetattr(fd, TCSANOW, &gKeyMode);
    errno = savedErrno;
}

// One byte, waiting at most timeoutMs (-1: without limit). False on time out,
// end of input or a read error.
bool ReadByte(int fd, int timeoutMs, unsigned char &byte)
{
    for (;;) {
        if (timeoutMs >= 0) {
            struct pollfd p {fd, POLLIN, 0};
            int r = poll(&p, 1, timeoutMs);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
        }
        ssize_t n = read(fd, &byte, 1);
        if (n == 1)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// The code of a key that began with ESC: the rest of its sequence is read
// so that none of it is left for whatever reads the terminal next.
int EscapeKey(int fd, int gap)
{
    unsigned char b;
    if (!ReadByte(fd, gap, b))
        return 27; // Esc alone
    if (b == 'O') {
        if (!ReadByte(fd, gap, b))
            return 0; // Alt+O
        return (b >= 'P' && b <= 'S') ? 0 : 224; // F1 to F4; cursor and keypad keys
    }
    if (b != '[')
        return 0; // Alt with a key

    // Control sequence: parameters, intermediates, final byte.
    int first = -1;   // first parameter number
    int number = -1;
    bool firstDone = false;
    unsigned char final = 0;
    if (!ReadByte(fd, gap, b))
        return 0; // Alt+[
    if (b == '[') {
        // Linux console F1 to F5: ESC [ [ A to E.
        ReadByte(fd, gap, b);
        return 0;
    }
    for (int count = 0; count < 32; ++count) {
        if (count > 0 && !ReadByte(fd, gap, b))
            break;
        if (b >= '0' && b <= '9') {
            number = (number < 0 ? 0 : number * 10) + (b - '0');
            if (number > 1000)
                number = 1000;
            continue;
        }
        if (b == ';' || b == ':') {
            if (!firstDone)
                first = number, firstDone = true;
            number = -1;
            continue;
        }
        if (b >= 0x20 && b <= 0x3F)
            continue;
        final = b;
        break;
    }
    if (!firstDone)
        first = number;
    switch (final) {
    case '~':
        if ((first >= 11 && first <= 15) || (first >= 17 && first <= 21) || (first >= 25 && first <= 34))
            return 0; // F1 to F10 (and shifted function keys)
        return 224;   // Home, Insert, Delete, End, Page Up/Down, F11, F12
    case 'P': case 'Q': case 'R': case 'S':
        return 0;     // F1 to F4 with a modifier
    case 'Z':
        return 0;     // Shift+Tab
    default:
        return 224;   // cursor keys, Home, End, keypad
    }
}

// The ANSI code of a UTF-8 character that began with lead.
int Utf8Key(int fd, int gap, unsigned char lead)
{
    int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t c = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        unsigned char b;
        if (!ReadByte(fd, gap, b) || (b & 0xC0) != 0x80)
            return lead;
        c = (c << 6) | (b & 0x3F);
    }
    int ansi = UnicodeToAnsi(c);
    return ansi < 0 ? '?' : ansi;
}

} // namespace

int WaitForKey(const KeyWaitOptions &options)
{
    int fd = open(options.terminal, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct termios saved;
    if (tcgetattr(fd, &saved) != 0) {
        close(fd);
        return -1;
    }
    struct termios keyMode = saved;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL);
    keyMode.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR); // Enter gives 13
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;

    // The handlers must find both modes before they can run.
    gSaved = saved;
    gKeyMode = keyMode;
    gTerminal = fd;
    std::array<struct sigaction, kSignals.size()> previous{};
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler == SIG_IGN)
            continue; // an ignored signal stays ignored
        struct sigaction sa {};
        sa.sa_handler = RestoreOnSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(kSignals[i], &sa, nullptr);
    }

    int key = -1;
    if (tcsetattr(fd, TCSANOW, &keyMode) == 0) {
        if (options.onReady)
            options.onReady();
        unsigned char b;
        if (ReadByte(fd, -1, b)) {
            if (b == 0x1B)
                key = EscapeKey(fd, options.sequenceGapMs);
            else if (b >= 0xC2 && b <= 0xF4)
                key = Utf8Key(fd, options.sequenceGapMs, b);
            else
                key = b;
        }
    }

    tcsetattr(fd, TCSANOW, &saved);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (previous[i].sa_handler != SIG_IGN)
            sigaction(kSignals[i], &previous[i], nullptr);
    }
    gTerminal = -1;
    close(fd);
    return key;
}

} // namespace dialtrim
