/*
 * dialtrim.c - Dialtrim: removes the ';' dial suffix of every installed
 * Nuvalt modem from the Windows 95 registry, or with "/u" puts it back.
 *
 * Plain procedural code over the platform layer of dtplat.h; it uses no C
 * runtime, no heap and no state beyond its locals.
 */
#include "dialtrim.h"

/* Modem device class key under HKEY_LOCAL_MACHINE. It ends in a backslash
 * so that the four-digit instance name follows directly. The registry
 * compares names without regard to case, so lower case serves. */
static const char ModemClassKey[] = "system\\currentcontrolset\\services\\class\\modem\\";
static const char SettingsSubKey[] = "\\settings";
static const char ModelValue[] = "Model";
static const char DialSuffixValue[] = "DialSuffix";

/* Instance names are four digits with leading zeros; the walk stops long
 * before a number could outgrow the name and path buffers below. */
#define DT_MAX_INSTANCES 100000000
#define DT_NAME_SIZE 16
#define DT_PATH_SIZE 96

void PrintBanner(void)
{
    DtPrint("\nNuvalt Dialtrim Utility for Windows 95\n");
    DtPrint("Version 1.00,Copyright (C) 1995 Nuvalt. All rights reserved.\n");
    DtPrint("Removes ';' from dialsuffix setting in registry\n");
    DtPrint("for all Nuvalt Modems.\n\n");
}

BOOL IsWindows95(void)
{
    OSVERSIONINFOA version;

    /* The platform id stays 0 when the query fails, so a failed query is
     * treated as a platform other than Windows 95. */
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwPlatformId = 0;
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

void PrintUsage(void)
{
    DtPrint("Usage: DIALTRIM [/u]\n/u Resets the modem settings\n");
    DtExit(0);
}

void CheckCommandLine(int argc, char **argv)
{
    const char *arg;

    if (argc > 2)
        PrintUsage();
    arg = argv[1];
    if (arg[0] != '/' && arg[0] != '-')
        PrintUsage();
    if (arg[1] == '\0' || arg[2] != '\0')
        PrintUsage();
    if (arg[1] != 'u' && arg[1] != 'U')
        PrintUsage();

    if (ModifyModemSettings(TRUE)) {
        DtPrint("The Nuvalt Modem settings have been reset.\n");
        DtExit(0);
    }
    /* Nothing was reset: the default walk follows. */
}

/* Upper-cases a terminated text in place: only a to z change, every other
 * byte (digits, punctuation, 0x80 and up) stays, whatever the locale. */
static void UpperCase(char *text)
{
    for (; *text != '\0'; text++) {
        if (*text >= 'a' && *text <= 'z')
            *text = (char)(*text - 'a' + 'A');
    }
}

/* True when word occurs anywhere in text, byte for byte. */
static BOOL Contains(const char *text, const char *word)
{
    const char *t;
    const char *w;

    for (; *text != '\0'; text++) {
        for (t = text, w = word; *w != '\0' && *t == *w; t++, w++)
            ;
        if (*w == '\0')
            return TRUE;
    }
    return FALSE;
}

/* Whether the "Model" query left a model name the walk may act on. Only a
 * successful query of a string that fits the buffer with its terminator
 * counts. A missing or unreadable value, a value that is not a string, and
 * one longer than 63 characters (the query reports more data than fits, or
 * fills all 64 bytes without a terminator) count as no model at all, so the
 * modem is left alone: the buffer is never read past its end and never holds
 * the model of an earlier instance. */
static BOOL ModelIsUsable(LONG result, DWORD type, DWORD size, const char *model)
{
    if (result != ERROR_SUCCESS)
        return FALSE;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return FALSE;
    if (size > DT_MODEL_SIZE)
        return FALSE;
    return model[DT_MODEL_SIZE - 1] == '\0';
}

BOOL ModifyModemSettings(BOOL reset)
{
    char maker[] = "Nuvalt";
    char name[DT_NAME_SIZE];
    char instanceKey[DT_PATH_SIZE];
    char settingsKey[DT_PATH_SIZE];
    char model[DT_MODEL_SIZE];
    BYTE suffix[2];
    BOOL changed = FALSE;
    HKEY key;
    DWORD type;
    DWORD size;
    LONG result;
    int index;
    int i;

    /* Default: an empty text and one more NUL; reset: ";" and its NUL. */
    suffix[0] = reset ? ';' : '\0';
    suffix[1] = '\0';
    UpperCase(maker);

    for (index = 0; index < DT_MAX_INSTANCES; index++) {
        wsprintfA(name, "%04d", index);
        wsprintfA(instanceKey, "%s%s", ModemClassKey, name);
        wsprintfA(settingsKey, "%s%s%s", ModemClassKey, name, SettingsSubKey);

        /* The first missing instance ends the walk. */
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, instanceKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            break;

        /* A fresh, cleared buffer for every instance, so a value shorter
         * than the buffer is always terminated and nothing of an earlier
         * instance remains. The type is asked for so that a value that is
         * not a string is told apart. */
        for (i = 0; i < DT_MODEL_SIZE; i++)
            model[i] = '\0';
        type = REG_NONE;
        size = DT_MODEL_SIZE;
        result = RegQueryValueExA(key, ModelValue, NULL, &type, (LPBYTE)model, &size);
        RegCloseKey(key);

        if (!ModelIsUsable(result, type, size, model))
            continue;
        UpperCase(model);
        if (!Contains(model, maker))
            continue;

        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
            DtPrint("Unable to change dial suffix\n");
            continue;
        }
        /* Written even when it already holds this content. A value the
         * registry refused to take is reported like a settings key that
         * cannot be opened, not as changed. */
        if (RegSetValueExA(key, DialSuffixValue, 0, REG_SZ, suffix, sizeof(suffix)) != ERROR_SUCCESS) {
            RegCloseKey(key);
            DtPrint("Unable to change dial suffix\n");
            continue;
        }
        if (reset)
            DtPrint("%s has had DialSuffix set to ';'\n", model);
        else
            DtPrint("%s has had DialSuffix removed\n", model);
        changed = TRUE;
        RegCloseKey(key);
    }
    return changed;
}

int DialtrimMain(int argc, char **argv)
{
    PrintBanner();
    if (!IsWindows95()) {
        DtPrint("This utility is for Windows 95 only\n");
        /* The process reports the result of this last print. */
        return DtPrint("No changes have been made\n");
    }
    if (argc > 1)
        CheckCommandLine(argc, argv);
    if (!ModifyModemSettings(FALSE))
        DtPrint("Unable to modify modem settings.\n");
    DtPrint("Press any key to continue ...\n");
    /* The process reports the key's code. */
    return DtGetKey();
}
