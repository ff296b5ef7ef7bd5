/*
 * w32con.h - the Win32 console, file and process calls that DIALTRIM.EXE's
 * own layer makes, beyond the registry and version calls of dtplat.h.
 *
 * Written for this program from the published Win32 interface; it is not a
 * copy of any platform header. Every call here is provided by KERNEL32.DLL
 * or USER32.DLL of the first release of Windows 95.
 */
#ifndef W32CON_H
#define W32CON_H

#include "dtplat.h"

typedef void *HANDLE;
typedef unsigned short WORD;
typedef unsigned short WCHAR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef __builtin_va_list va_list;

#define va_start(ap, last) __builtin_va_start(ap, last)
#define va_end(ap) __builtin_va_end(ap)

#define INVALID_HANDLE_VALUE ((HANDLE)(__INTPTR_TYPE__)-1)
#define STD_OUTPUT_HANDLE ((DWORD)-11)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u

/* Console input modes. */
#define ENABLE_PROCESSED_INPUT 0x0001u
#define ENABLE_LINE_INPUT 0x0002u
#define ENABLE_ECHO_INPUT 0x0004u

/* Console input events. */
#define KEY_EVENT 0x0001u
#define ENHANCED_KEY 0x0100u /* a key of the separate cursor block or keypad Enter, / */

typedef struct _KEY_EVENT_RECORD {
    BOOL bKeyDown;
    WORD wRepeatCount;
    WORD wVirtualKeyCode;
    WORD wVirtualScanCode;
    union {
        WCHAR UnicodeChar;
        CHAR AsciiChar;
    } uChar;
    DWORD dwControlKeyState;
} KEY_EVENT_RECORD;

/* The other event kinds are no larger than a key event; only the size of
 * the record matters for them here. */
typedef struct _INPUT_RECORD {
    WORD EventType;
    union {
        KEY_EVENT_RECORD KeyEvent;
        DWORD Other[4];
    } Event;
} INPUT_RECORD;

typedef char DtInputRecordIs20Bytes[sizeof(INPUT_RECORD) == 20 ? 1 : -1];

typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED *LPOVERLAPPED;

LPSTR WINAPI GetCommandLineA(void);
HANDLE WINAPI GetStdHandle(DWORD which);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
DT_NORETURN void WINAPI ExitProcess(unsigned int status);
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI CloseHandle(HANDLE handle);
BOOL WINAPI GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL WINAPI SetConsoleMode(HANDLE console, DWORD mode);
BOOL WINAPI ReadConsoleInputA(HANDLE console, INPUT_RECORD *records, DWORD length, LPDWORD read);

/* Formats into out, at most 1024 bytes with the terminator; returns the
 * number of characters stored. */
int WINAPI wvsprintfA(LPSTR out, LPCSTR format, va_list args);

#endif /* W32CON_H */
