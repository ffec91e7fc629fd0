// Holds Wine's desktop open for a whole test run.
//
// The first program of a Wine session that makes a window starts the
// desktop process (explorer.exe /desktop), which inherits that program's
// standard output and lives until some seconds after the desktop's last
// program has ended. CTest waits for the output pipe of a test to close, so
// every window test would take those seconds more, and each starts a new
// desktop process. Started once before the tests, with its output going to a
// log, this program owns the desktop process and keeps it up; the test run's
// script ends it with the Wine server.
#include <windows.h>

int main() {
    // A message-only window is enough to join the desktop.
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
