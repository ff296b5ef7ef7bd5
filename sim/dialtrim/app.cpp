#include "app.hpp"

#include "host.hpp"
#include "regfile.hpp"

#include <cstdio>
#include <string>

namespace dialtrim {

int RunHostProgram(int argc, char **argv, const char *registryPath, const char *platformText,
                   const AppConsole &console)
{
    auto fail = [&](const std::string &what) {
        std::string line = "dialtrim: " + what + "\n";
        if (console.errors)
            console.errors(line);
        else
            std::fputs(line.c_str(), stderr);
        return kHostFailure;
    };

    if (registryPath == nullptr || *registryPath == '\0')
        return fail("DIALTRIM_REGISTRY is not set; it names the registry export file to work on "
                    "(REGEDIT4 or Windows Registry Editor Version 5.00)\n"
                    "usage: DIALTRIM_REGISTRY=FILE [DIALTRIM_PLATFORM=ID] dialtrim [/u]");
    auto platform = PlatformFromEnvironment(platformText);
    if (!platform)
        return fail(std::string("DIALTRIM_PLATFORM must be a platform id number (1 for Windows 95), not \"") +
                    platformText + "\"");
    std::string error;
    auto registry = RegistryFile::Load(registryPath, error);
    if (!registry)
        return fail(error);

    HostSession session;
    session.registry = &*registry;
    session.platformId = *platform;
    session.output = console.output;
    session.readKey = console.readKey;
    std::size_t savedWrites = 0;
    bool saveFailed = false;
    auto writeBack = [&] {
        if (saveFailed || registry->writeCount() == savedWrites)
            return;
        if (!registry->Save(registryPath, error)) {
            saveFailed = true;
            fail(error + " (the changes shown were not saved)");
            return;
        }
        savedWrites = registry->writeCount();
    };
    session.beforeKeyWait = writeBack;

    int status = RunDialtrim(session, argc, argv);
    writeBack();
    std::fflush(stdout);
    return saveFailed ? kHostFailure : (status & 0xFF);
}

} // namespace dialtrim
