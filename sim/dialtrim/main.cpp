// dialtrim: the Nuvalt Dialtrim utility run on a registry export file.
//
//   DIALTRIM_REGISTRY=FILE [DIALTRIM_PLATFORM=ID] dialtrim [/u]
//
// FILE is a registry export file (REGEDIT4 or Windows Registry Editor
// Version 5.00); it is read at start and, when the run wrote a value,
// written back in place, atomically. ID is the platform id the version
// query reports (default 1, Windows 95).
//
// Exit status: the utility's own (0 after the usage text or a reset, 26
// after the platform refusal, the key's code after the key wait, 255 when no
// key could be read), or 2 when the file cannot be read, parsed or written
// back, or DIALTRIM_PLATFORM is not a number; the reason goes to standard
// error, and a file that cannot be read or parsed is left untouched.
#include "host.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kHostFailure = 2;

void Fail(const std::string &what) { std::fprintf(stderr, "dialtrim: %s\n", what.c_str()); }

} // namespace

int main(int argc, char **argv)
{
    const char *path = std::getenv("DIALTRIM_REGISTRY");
    if (path == nullptr || *path == '\0') {
        Fail("DIALTRIM_REGISTRY is not set; it names the registry export file to work on "
             "(REGEDIT4 or Windows Registry Editor Version 5.00)\n"
             "usage: DIALTRIM_REGISTRY=FILE [DIALTRIM_PLATFORM=ID] dialtrim [/u]");
        return kHostFailure;
    }
    const char *platformText = std::getenv("DIALTRIM_PLATFORM");
    auto platform = dialtrim::PlatformFromEnvironment(platformText);
    if (!platform) {
        Fail(std::string("DIALTRIM_PLATFORM must be a platform id number (1 for Windows 95), not \"") +
             platformText + "\"");
        return kHostFailure;
    }
    std::string error;
    auto registry = dialtrim::RegistryFile::Load(path, error);
    if (!registry) {
        Fail(error);
        return kHostFailure;
    }

    dialtrim::HostSession session;
    session.registry = &*registry;
    session.platformId = *platform;
    std::size_t savedWrites = 0;
    bool saveFailed = false;
    auto writeBack = [&] {
        if (saveFailed || registry->writeCount() == savedWrites)
            return;
        if (!registry->Save(path, error)) {
            saveFailed = true;
            Fail(error + " (the changes shown were not saved)");
            return;
        }
        savedWrites = registry->writeCount();
    };
    session.beforeKeyWait = writeBack;

    int status = dialtrim::RunDialtrim(session, argc, argv);
    writeBack();
    std::fflush(stdout);
    return saveFailed ? kHostFailure : (status & 0xFF);
}
