// MoveFileExW without MOVEFILE_REPLACE_EXISTING: it fails with
// ERROR_ALREADY_EXISTS (or ERROR_FILE_EXISTS) where a file stands.
#include "move_new.h"

#include <windows.h>

#include <QDir>

#include "base/system_error.h"

std::function<void(const QString&)> g_before_move;

std::string MoveToNewName(const QString& from, const QString& to, bool* existed) {
    *existed = false;
    if (g_before_move) g_before_move(to);
    const std::wstring a = QDir::toNativeSeparators(from).toStdWString(),
                       b = QDir::toNativeSeparators(to).toStdWString();
    if (MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_WRITE_THROUGH)) return std::string();
    const DWORD err = GetLastError();
    *existed = err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS;
    return SystemErrorOf(static_cast<long>(err)).text;
}
