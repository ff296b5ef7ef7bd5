/*
 * cmdline.h - the command line of a Win32 process split into arguments by
 * the rules of the Microsoft C runtime, for DIALTRIM.EXE, which has no C
 * runtime of its own to do it.
 *
 * Pure C with no platform calls and no standard header, so the host builds
 * and tests the same function.
 */
#ifndef DT_CMDLINE_H
#define DT_CMDLINE_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Splits line into arguments, argument 0 being the program's name.
 *
 * Program name: runs to the first blank or tab outside double quotes; each
 * double quote switches quoting on or off and is dropped; backslashes are
 * plain characters.
 *
 * Each further argument: blanks and tabs outside double quotes separate
 * arguments; a double quote switches quoting on or off and is dropped.
 * Backslashes are plain characters unless a double quote follows them:
 * 2n backslashes and a quote give n backslashes and the quote switches
 * quoting; 2n+1 backslashes and a quote give n backslashes and a literal
 * quote. Inside quotes, two double quotes in a row give one literal quote
 * and quoting stays on.
 *
 * The texts go to text (textSize bytes), each with its terminator, and a
 * pointer to each into argv, followed by a null pointer (maxArgs pointers
 * at most, the null one included). strlen(line) + 2 bytes of text and
 * strlen(line) / 2 + 3 pointers always suffice; with less, the arguments
 * that do not fit whole are left out. Returns the number of arguments
 * stored.
 */
int DtSplitCommandLine(const char *line, char *text, unsigned textSize, char **argv, int maxArgs);

#ifdef __cplusplus
}
#endif

#endif /* DT_CMDLINE_H */
