/*
 * dialtrim.h - the operations of Dialtrim, the Nuvalt dial-suffix utility
 * for Windows 95.
 */
#ifndef DIALTRIM_H
#define DIALTRIM_H

#include "dtplat.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the model text buffer, which is also the size given to the value
 * query: a model name of up to 63 characters and its terminator. */
#define DT_MODEL_SIZE 64

/* The program: banner, platform check, command line, registry walk, outcome
 * and, on the default path, the key wait. Returns the status the process
 * reports: 26 (the character count of the last refusal line) after the
 * platform refusal, the key code after the key wait. Two paths end the
 * process from inside with status 0 (usage text, successful reset). */
int DialtrimMain(int argc, char **argv);

/* Prints the four banner lines. */
void PrintBanner(void);

/* True exactly when the platform reports the Windows 95 family (id 1). A
 * failed version query leaves the id 0 and so is refused. */
BOOL IsWindows95(void);

/* Accepts exactly "/u", "/U", "-u" or "-U" as the only argument and runs the
 * reset walk; ends the process through PrintUsage for anything else, or with
 * status 0 after a reset walk that changed a modem. Returns only when the
 * reset walk changed nothing. */
void CheckCommandLine(int argc, char **argv);

/* Prints the usage text and ends the process with status 0. */
DT_NORETURN void PrintUsage(void);

/* Walks the modem class keys from instance "0000" until the first missing
 * one and, for every modem whose model name contains "Nuvalt" in any letter
 * case, writes its "DialSuffix": empty by default, ";" when reset is true.
 * Returns true when at least one modem was changed. */
BOOL ModifyModemSettings(BOOL reset);

#ifdef __cplusplus
}
#endif

#endif /* DIALTRIM_H */
