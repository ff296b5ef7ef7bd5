// The host program around the utility: environment, registry file in and
// out, exit status. main() of the dialtrim executable is this with the
// process's own environment; tests give their own console.
#pragma once

#include <functional>
#include <string_view>

namespace dialtrim {

struct AppConsole {
    std::function<void(std::string_view)> output;  // default: standard output
    std::function<void(std::string_view)> errors;  // default: standard error
    std::function<int()> readKey;                  // default: the terminal
};

// Status of a failure of the host itself: the registry file cannot be read,
// parsed or written back, or DIALTRIM_PLATFORM is not a number.
constexpr int kHostFailure = 2;

// Runs the utility on the registry file registryPath (DIALTRIM_REGISTRY)
// with the platform id platformText (DIALTRIM_PLATFORM, may be null). The
// file is written back as the key wait begins, so that a run ended at the
// prompt loses nothing, and at the end if anything was written after that.
// Returns the process exit status (0 to 255).
int RunHostProgram(int argc, char **argv, const char *registryPath, const char *platformText,
                   const AppConsole &console = {});

} // namespace dialtrim
