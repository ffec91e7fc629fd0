#include "terminal.h"

#include <windows.h>

#include "session/session.h"

namespace {

std::atomic<bool>* g_interrupted = nullptr;

// Runs on a thread of its own that the console starts. A second Ctrl-C
// (or Ctrl-Break) ends the program at once, as on POSIX.
BOOL WINAPI onInterrupt(DWORD event) {
    if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && g_interrupted->exchange(true)) ExitProcess(130);
    g_interrupted->store(true);
    StopConversations(true);
    // The console window closing ends the process as soon as this returns:
    // a transfer in progress gets the time to end (its next read, within a
    // quarter of a second) and to close the port.
    if (event == CTRL_CLOSE_EVENT) Sleep(2000);
    return TRUE;
}

}  // namespace

// A console, not a file or a pipe.
bool StderrIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool StderrMovesCursor() {
    const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(h, &mode)) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void StopOnInterrupt(std::atomic<bool>* flag) {
    g_interrupted = flag;
    SetConsoleCtrlHandler(onInterrupt, TRUE);
}
