/*
 * w32main.c - DIALTRIM.EXE's own layer over Win32: the program entry, the
 * console output and exit, and the console key read that the core calls
 * (dtplat.h). The image links no C runtime, so this file does what one
 * would: split the command line, write text as a text-mode stream does
 * (LF as CR LF), and end the process through ExitProcess.
 */
#include "cmdline.h"
#include "dialtrim.h"
#include "w32con.h"

/* The longest command line Win32 passes, in characters. */
#define DT_MAX_COMMAND_LINE 32767

/* Virtual key codes of the keys that give an extended code. */
#define VK_CLEAR 0x0C
#define VK_PRIOR 0x21  /* Page Up; up to VK_DOWN 0x28: PgDn, End, Home, arrows */
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_F1 0x70
#define VK_F10 0x79
#define VK_F11 0x7A
#define VK_F12 0x7B

/* Writes size bytes to standard output, each LF as CR LF. */
static void WriteText(const char *text, int size)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char chunk[256];
    DWORD used = 0;
    DWORD written;
    int i;

    if (out == INVALID_HANDLE_VALUE || out == NULL)
        return;
    for (i = 0; i <= size; i++) {
        /* Flush when the chunk could not take a CR LF, and at the end. */
        if (i == size || used + 2 > sizeof(chunk)) {
            DWORD done = 0;
            while (done < used) {
                if (!WriteFile(out, chunk + done, used - done, &written, NULL) || written == 0)
                    return; /* output gone: nothing more can be shown */
                done += written;
            }
            used = 0;
            if (i == size)
                break;
        }
        if (text[i] == '\n')
            chunk[used++] = '\r';
        chunk[used++] = text[i];
    }
}

int DtPrint(LPCSTR format, ...)
{
    char text[1025]; /* wvsprintfA writes at most 1024 bytes */
    va_list args;
    int n;

    va_start(args, format);
    n = wvsprintfA(text, format, args);
    va_end(args);
    if (n < 0)
        n = 0;
    WriteText(text, n);
    return n;
}

void DtExit(int status)
{
    /* Output is written unbuffered, so nothing is pending. */
    ExitProcess((unsigned int)status);
}

/* The code a key press ends the wait with, or -1 for a press that gives
 * neither a character nor an extended code (a modifier alone, say). As the
 * Microsoft C runtime's console read does: a character gives its code; a
 * function, cursor or editing key gives 224 when it is one of the separate
 * block (and F11, F12), 0 when it is on the keypad or F1 to F10. */
static int KeyCode(const KEY_EVENT_RECORD *key)
{
    unsigned char c = (unsigned char)key->uChar.AsciiChar;
    WORD vk = key->wVirtualKeyCode;

    if (c != 0)
        return c;
    if (vk == VK_F11 || vk == VK_F12)
        return 224;
    if (vk == VK_CLEAR || (vk >= VK_PRIOR && vk <= VK_DOWN) || vk == VK_INSERT || vk == VK_DELETE ||
        (vk >= VK_F1 && vk <= VK_F10))
        return (key->dwControlKeyState & ENHANCED_KEY) ? 224 : 0;
    return -1;
}

int DtGetKey(void)
{
    HANDLE console;
    DWORD saved;
    DWORD count;
    INPUT_RECORD record;
    int key = -1;

    /* The console itself, not standard input, which may be redirected. */
    console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                          OPEN_EXISTING, 0, NULL);
    if (console == INVALID_HANDLE_VALUE)
        return -1;
    if (!GetConsoleMode(console, &saved)) {
        CloseHandle(console);
        return -1;
    }
    /* For the wait, as the C runtime's console read does: no echo, no line
     * input, no processed input (so Ctrl+C ends the wait as a key, code 3,
     * and the mode is always put back), and no mouse or window events. */
    SetConsoleMode(console, 0);
    for (;;) {
        if (!ReadConsoleInputA(console, &record, 1, &count) || count == 0)
            break; /* the console cannot be read: -1 */
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
            continue; /* key releases, mouse, focus and size events */
        key = KeyCode(&record.Event.KeyEvent);
        if (key >= 0)
            break;
    }
    SetConsoleMode(console, saved);
    CloseHandle(console);
    return key;
}

/* The image's entry point: arguments from the command line, the program,
 * and its status to the process exit. */
__attribute__((force_align_arg_pointer)) DT_NORETURN void DtStartup(void)
{
    static char text[DT_MAX_COMMAND_LINE + 2];
    static char *argv[DT_MAX_COMMAND_LINE / 2 + 3];
    const char *line = GetCommandLineA();
    int argc;

    argc = DtSplitCommandLine(line != NULL ? line : "", text, sizeof(text), argv,
                              (int)(sizeof(argv) / sizeof(argv[0])));
    ExitProcess((unsigned int)DialtrimMain(argc, argv));
}
