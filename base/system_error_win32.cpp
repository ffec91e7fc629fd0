#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "system_error.h"

#include <windows.h>

#include "ansi_text_win32.h"

SystemError LastSystemError() { return SystemErrorOf(static_cast<long>(GetLastError())); }

// The system's text in the ANSI code page of narrow strings, without the
// line end FormatMessage puts after it.
SystemError SystemErrorOf(long code) {
    SystemError e;
    e.code = code;
    if (code == 0) return e;
    wchar_t* buf = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
    std::wstring wide;
    if (n > 0 && buf) wide.assign(buf, n);
    if (buf) LocalFree(buf);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) wide.pop_back();
    e.text = wide.empty() ? "Error " + std::to_string(code) : NarrowAnsi(wide.data(), wide.size());
    return e;
}

bool IsAccessDenied(const SystemError& e) { return e.code == ERROR_ACCESS_DENIED; }
bool IsNotThere(const SystemError& e) { return e.code == ERROR_FILE_NOT_FOUND || e.code == ERROR_PATH_NOT_FOUND; }
