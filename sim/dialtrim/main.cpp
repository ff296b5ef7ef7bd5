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
#include "app.hpp"

#include <cstdlib>

int main(int argc, char **argv)
{
    return dialtrim::RunHostProgram(argc, argv, std::getenv("DIALTRIM_REGISTRY"), std::getenv("DIALTRIM_PLATFORM"));
}
