#include "system_error.h"

#include <cerrno>
#include <cstring>

SystemError LastSystemError() { return SystemErrorOf(errno); }

SystemError SystemErrorOf(long code) {
    SystemError e;
    e.code = code;
    if (code != 0) e.text = std::strerror(static_cast<int>(code));
    return e;
}

bool IsAccessDenied(const SystemError& e) { return e.code == EACCES; }
bool IsNotThere(const SystemError& e) { return e.code == ENOENT; }
