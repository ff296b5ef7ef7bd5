#include "host.hpp"

#include "keywait.hpp"

extern "C" {
#include "dialtrim.h"
}

#include <algorithm>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace dialtrim {
namespace {

HostSession *gSession = nullptr;
std::jmp_buf *gExitJump = nullptr;
int gExitStatus = 0;

constexpr const char *kRootPath = "HKEY_LOCAL_MACHINE";
constexpr LONG kErrorAccessDenied = 5;

std::uintptr_t HandleValue(HKEY key) { return reinterpret_cast<std::uintptr_t>(key); }

// The full path a handle stands for; false for a handle that is not open.
bool KeyPath(HostSession &s, HKEY key, std::string &path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        path = kRootPath;
        return true;
    }
    auto it = s.openKeys.find(HandleValue(key));
    if (it == s.openKeys.end())
        return false;
    path = it->second;
    return true;
}

void Trace(HostSession &s, RegCall call)
{
    int open = static_cast<int>(s.openKeys.size());
    s.maxOpenKeys = std::max(s.maxOpenKeys, open);
    if (!s.traceCalls)
        return;
    call.openAfter = open;
    s.calls.push_back(std::move(call));
}

// A session for calls made outside RunDialtrim (the program's platform
// layer always has one to serve).
HostSession &Session()
{
    static HostSession idle;
    return gSession ? *gSession : idle;
}

int CallEntry(int argc, char **argv)
{
    std::jmp_buf jump;
    std::jmp_buf *previous = gExitJump;
    gExitJump = &jump;
    if (setjmp(jump) != 0) {
        gExitJump = previous;
        return gExitStatus;
    }
    int status = DialtrimMain(argc, argv);
    gExitJump = previous;
    return status;
}

} // namespace

SessionScope::SessionScope(HostSession &session) : previous_(gSession) { gSession = &session; }
SessionScope::~SessionScope() { gSession = previous_; }

int RunDialtrim(HostSession &session, int argc, char **argv)
{
    HostSession *previous = gSession;
    gSession = &session;
    int status = CallEntry(argc, argv);
    gSession = previous;
    return status;
}

std::optional<std::uint32_t> PlatformFromEnvironment(const char *value)
{
    if (value == nullptr || *value == '\0')
        return 1;
    char *end = nullptr;
    errno = 0;
    unsigned long id = std::strtoul(value, &end, 10);
    if (errno != 0 || *end != '\0' || !(*value >= '0' && *value <= '9') || id > 0xFFFFFFFFul)
        return std::nullopt;
    return static_cast<std::uint32_t>(id);
}

} // namespace dialtrim

using dialtrim::HostSession;
using dialtrim::RegCall;
using dialtrim::Session;
using dialtrim::Trace;
using dialtrim::KeyPath;
using dialtrim::kErrorAccessDenied;

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info)
{
    HostSession &s = Session();
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) || s.versionQueryFails)
        return FALSE;
    // Version numbers of the first release of each platform family.
    info->dwPlatformId = s.platformId;
    info->dwMajorVersion = 0;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 0;
    if (s.platformId == VER_PLATFORM_WIN32_WINDOWS) {
        info->dwMajorVersion = 4;
        info->dwBuildNumber = 950;
    } else if (s.platformId == VER_PLATFORM_WIN32_NT) {
        info->dwMajorVersion = 3;
        info->dwMinorVersion = 51;
        info->dwBuildNumber = 1057;
    } else if (s.platformId == VER_PLATFORM_WIN32s) {
        info->dwMajorVersion = 3;
        info->dwMinorVersion = 11;
    }
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    return TRUE;
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result)
{
    HostSession &s = Session();
    RegCall call{RegCall::Open, subKey ? subKey : "", desired, {}, 0, {}, 0, 0, 0};
    std::string path;
    LONG rc = ERROR_SUCCESS;
    if (result == nullptr || options != 0)
        rc = ERROR_INVALID_PARAMETER;
    else if (!KeyPath(s, key, path))
        rc = ERROR_INVALID_HANDLE;
    if (rc == ERROR_SUCCESS) {
        if (subKey != nullptr && *subKey != '\0')
            path += std::string("\\") + subKey;
        bool exists = dialtrim::FoldName(path) == dialtrim::FoldName(dialtrim::kRootPath) ||
                      (s.registry != nullptr && s.registry->HasKey(path));
        if (exists) {
            std::uintptr_t handle = s.nextHandle;
            s.nextHandle += 0x10;
            s.openKeys.emplace(handle, path);
            *result = reinterpret_cast<HKEY>(handle);
        } else {
            rc = ERROR_FILE_NOT_FOUND;
        }
    }
    call.result = rc;
    Trace(s, std::move(call));
    return rc;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize)
{
    HostSession &s = Session();
    RegCall call{RegCall::Query, {}, 0, valueName ? valueName : "", 0, {}, dataSize ? *dataSize : 0, 0, 0};
    std::string path;
    LONG rc = ERROR_SUCCESS;
    std::optional<dialtrim::RegValue> value;
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr))
        rc = ERROR_INVALID_PARAMETER;
    else if (!KeyPath(s, key, path))
        rc = ERROR_INVALID_HANDLE;
    else if (s.registry == nullptr || !(value = s.registry->Query(path, valueName ? valueName : "")))
        rc = ERROR_FILE_NOT_FOUND;
    if (rc == ERROR_SUCCESS) {
        DWORD needed = static_cast<DWORD>(value->data.size());
        if (type != nullptr)
            *type = value->type;
        call.type = value->type;
        if (data != nullptr) {
            // Too small a buffer gets as much as fits, and the call says
            // more data exists: a caller must not take that for the value.
            DWORD room = *dataSize;
            std::memcpy(data, value->data.data(), std::min(room, needed));
            if (room < needed)
                rc = ERROR_MORE_DATA;
        }
        if (dataSize != nullptr)
            *dataSize = needed;
    }
    call.result = rc;
    Trace(s, std::move(call));
    return rc;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, LPCBYTE data,
                           DWORD dataSize)
{
    HostSession &s = Session();
    RegCall call{RegCall::Set, {}, 0, valueName ? valueName : "", type, {}, dataSize, 0, 0};
    if (data != nullptr)
        call.data.assign(data, data + dataSize);
    std::string path;
    LONG rc = ERROR_SUCCESS;
    if (reserved != 0 || (data == nullptr && dataSize != 0))
        rc = ERROR_INVALID_PARAMETER;
    else if (!KeyPath(s, key, path))
        rc = ERROR_INVALID_HANDLE;
    else if (s.valueWritesFail)
        rc = kErrorAccessDenied;
    call.path = path;
    if (rc == ERROR_SUCCESS &&
        (s.registry == nullptr ||
         !s.registry->Set(path, valueName ? valueName : "", type, std::span<const std::uint8_t>(call.data))))
        rc = ERROR_FILE_NOT_FOUND;
    call.result = rc;
    Trace(s, std::move(call));
    return rc;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    HostSession &s = Session();
    LONG rc = ERROR_SUCCESS;
    if (key != HKEY_LOCAL_MACHINE && s.openKeys.erase(dialtrim::HandleValue(key)) == 0)
        rc = ERROR_INVALID_HANDLE;
    RegCall call{RegCall::Close, {}, 0, {}, 0, {}, 0, rc, 0};
    Trace(s, std::move(call));
    return rc;
}

int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...)
{
    // The platform's limit: 1024 bytes with the terminator.
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, 1024, format, args);
    va_end(args);
    return n < 0 ? 0 : std::min(n, 1023);
}

int DtPrint(LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);

    HostSession &s = Session();
    if (s.output) {
        s.output(text);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
    return n;
}

void DtExit(int status)
{
    if (dialtrim::gExitJump != nullptr) {
        dialtrim::gExitStatus = status;
        std::longjmp(*dialtrim::gExitJump, 1);
    }
    std::fflush(stdout);
    std::exit(status);
}

int DtGetKey(void)
{
    HostSession &s = Session();
    std::fflush(stdout);
    ++s.keyWaits;
    if (s.beforeKeyWait)
        s.beforeKeyWait();
    if (s.readKey)
        return s.readKey();
    return dialtrim::WaitForKey();
}

} // extern "C"
