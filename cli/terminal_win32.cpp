#include <windows.h>

#include "session.h"
#include "terminal.h"

namespace {

std::atomic<bool>* g_interrupted = nullptr;

// Runs on a thread of its own that the console starts.
BOOL WINAPI onInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    g_interrupted->store(true);
    StopConversations(true);
    return TRUE;
}

}  // namespace

// A console, not a file or a pipe.
bool StderrIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void StopOnInterrupt(std::atomic<bool>* flag) {
    g_interrupted = flag;
    SetConsoleCtrlHandler(onInterrupt, TRUE);
}
