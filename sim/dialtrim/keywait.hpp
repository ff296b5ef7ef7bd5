// The console key wait on a POSIX host: one key from the controlling
// terminal (/dev/tty), not from standard input.
#pragma once

#include <functional>

namespace dialtrim {

struct KeyWaitOptions {
    const char *terminal = "/dev/tty";
    // Called once the terminal is in key mode (no echo, no line input).
    std::function<void()> onReady;
    // How long the bytes of one escape sequence may lag behind its ESC.
    int sequenceGapMs = 50;
};

// Waits for one key. Returns the character's code (1 to 255; Enter is 13,
// a lone Esc 27, a UTF-8 character its ANSI code page byte or '?'), 224 for
// a cursor, editing, F11 or F12 key, 0 for F1 to F10, Alt with a key or
// Shift+Tab, and -1 at once when there is no terminal or it cannot be read.
// The terminal's mode is restored afterwards, also when a signal ends or
// stops the process during the wait.
int WaitForKey(const KeyWaitOptions &options = {});

} // namespace dialtrim
