#include "platform_support.h"

#include <windows.h>

// No simulator is ever linked this high.
std::string MissingPort() { return "COM249"; }

namespace {

// The system's own text for an error code, as the program shows it.
std::string SystemText(DWORD code) {
    char* buf = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<LPSTR>(&buf), 0, nullptr);
    std::string text(buf ? buf : "", n);
    if (buf) LocalFree(buf);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string PathNotFoundReason() { return SystemText(ERROR_PATH_NOT_FOUND); }

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
