// The host layer of Dialtrim: the platform calls of dtplat.h served on a
// POSIX host. The registry is a registry export file (regfile.hpp), the
// version query reports a configurable platform id, the console is standard
// output and the controlling terminal.
//
// The layer serves one session at a time; a session holds everything a run
// of the program sees and leaves behind, so a test can run the program
// in-process and look at its output, its registry calls and its exit status.
#pragma once

#include "regfile.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dialtrim {

// One registry call as the program made it.
struct RegCall {
    enum Kind { Open, Query, Set, Close } kind;
    std::string path;   // Open: the sub key path as passed; Set: the key's full path
    std::uint32_t access = 0;
    std::string name;   // Query, Set: the value name
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;  // Set: the bytes passed
    std::uint32_t size = 0;          // Query: the size passed in; Set: the length
    long result = 0;
    int openAfter = 0;  // keys open after the call
};

struct HostSession {
    // The registry the calls see; without one, no key exists.
    RegistryFile *registry = nullptr;
    // What the version query reports.
    std::uint32_t platformId = 1;
    bool versionQueryFails = false;
    // Every value write is refused (as a registry that is full or read-only
    // refuses it).
    bool valueWritesFail = false;

    // Where printed text goes; by default standard output, written at once.
    std::function<void(std::string_view)> output;
    // Called as the key wait begins, after everything printed so far went
    // out; the place to write the registry back so that a run stopped at
    // the prompt loses nothing.
    std::function<void()> beforeKeyWait;
    // The key wait; by default WaitForKey on /dev/tty.
    std::function<int()> readKey;

    // Record every registry call in calls.
    bool traceCalls = false;
    std::vector<RegCall> calls;
    int keyWaits = 0;
    int maxOpenKeys = 0;

    // Open key handles and the key each stands for (folded full path).
    std::map<std::uintptr_t, std::string> openKeys;
    std::uintptr_t nextHandle = 0x1000;
};

// Makes a session the one the platform calls serve, for as long as the
// scope lasts (to call an operation of the program other than its entry).
class SessionScope {
public:
    explicit SessionScope(HostSession &session);
    ~SessionScope();
    SessionScope(const SessionScope &) = delete;
    SessionScope &operator=(const SessionScope &) = delete;

private:
    HostSession *previous_;
};

// Runs the program's entry in the session and returns the exit status its
// platform would report: the entry's result, or the status given to the
// exit call made inside. The value is not reduced to 8 bits.
int RunDialtrim(HostSession &session, int argc, char **argv);

// Reads DIALTRIM_PLATFORM: unset or empty is 1 (Windows 95); otherwise a
// decimal number. Nothing when the value is not a number.
std::optional<std::uint32_t> PlatformFromEnvironment(const char *value);

} // namespace dialtrim
