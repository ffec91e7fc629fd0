#include "platform_support.h"

#include <windows.h>

// No simulator is ever linked this high.
std::string MissingPort() { return "COM249"; }

// The system's own text for "file not found", as OpenComError gives it.
std::string MissingPortReason() {
    char* buf = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPSTR>(&buf), 0, nullptr);
    std::string text(buf ? buf : "", n);
    if (buf) LocalFree(buf);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
