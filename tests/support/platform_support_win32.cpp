#include "platform_support.h"

#include <windows.h>

// No simulator is ever linked this high.
std::string MissingPort() { return "COM249"; }

// The system's own text for the error, as the program shows it.
std::string PathNotFoundReason() {
    char* buf = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_PATH_NOT_FOUND, 0, reinterpret_cast<LPSTR>(&buf), 0, nullptr);
    const std::string text = buf ? buf : "";
    LocalFree(buf);
    return text.substr(0, text.find_last_not_of("\r\n ") + 1);
}

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
