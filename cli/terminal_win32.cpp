#include <windows.h>

#include "terminal.h"

// A console, not a file or a pipe.
bool StderrIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
