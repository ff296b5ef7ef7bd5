/*
 * dtplat.h - the platform layer of Dialtrim: the Win32 types, constants and
 * calls that the utility uses, and the three console services it needs.
 *
 * Written for this program from the published Win32 interface; it is not a
 * copy of any platform header. It includes nothing, so the program core
 * builds without a C runtime. On Windows 95 the Win32 calls are the real
 * ones (ADVAPI32, USER32, KERNEL32) and a small layer file supplies the three
 * Dt services; on a development host the whole layer is simulated.
 */
#ifndef DTPLAT_H
#define DTPLAT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Calling conventions of the x86 target: the Win32 calls are stdcall,
 * wsprintfA is cdecl. Other hosts have one convention. */
#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#define WINAPIV __attribute__((cdecl))
#else
#define WINAPI
#define WINAPIV
#endif

#if defined(__GNUC__)
#define DT_NORETURN __attribute__((noreturn))
#else
#define DT_NORETURN
#endif

/* ---- Basic types (sizes as on the 32-bit target) ---- */
typedef int BOOL;
typedef unsigned char BYTE;
typedef BYTE *LPBYTE;
typedef const BYTE *LPCBYTE;
typedef unsigned int DWORD; /* 32 bits on every build */
typedef DWORD *LPDWORD;
typedef int LONG;
typedef char CHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef DWORD REGSAM;

/* A registry key handle; the predefined roots are fixed handle values. */
typedef struct DtKey *HKEY;
typedef HKEY *PHKEY;

#define TRUE 1
#define FALSE 0
#ifndef NULL
#define NULL ((void *)0)
#endif

#define HKEY_LOCAL_MACHINE ((HKEY)(__UINTPTR_TYPE__)0x80000002u)

/* Registry results (Win32 error codes) the program or its layer names. */
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L

/* Access mask for RegOpenKeyExA: every right on the key. */
#define KEY_ALL_ACCESS 0xF003Fu

/* Registry value types. */
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

/* Version record of GetVersionExA: 148 bytes on the target. */
#define VER_PLATFORM_WIN32s 0u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize; /* set by the caller to the record's size */
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef char DtOsVersionInfoIs148Bytes[sizeof(OSVERSIONINFOA) == 148 ? 1 : -1];

/* ---- Win32 calls ---- */
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize);
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                           LPCBYTE data, DWORD dataSize);
LONG WINAPI RegCloseKey(HKEY key);

/* Formats into out (at most 1024 bytes with the terminator); returns the
 * number of characters stored, without the terminator. */
int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...);

/* ---- Console services of the layer ---- */

/* Formats the text and writes it whole to standard output, shown at once.
 * Returns the number of characters of the formatted text (line feeds count
 * one each, whatever line end the output device receives). */
int DtPrint(LPCSTR format, ...);

/* Ends the process normally with the status; pending output is written. */
DT_NORETURN void DtExit(int status);

/* Waits for one key on the console (not standard input), with echo and line
 * input off for the wait. Returns the key's character code (1 to 255), 0 or
 * 224 for a function or cursor key, or -1 at once when the console cannot be
 * read. */
int DtGetKey(void);

#ifdef __cplusplus
}
#endif

#endif /* DTPLAT_H */
