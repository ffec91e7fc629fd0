// A failure as the operating system told it, at the edge where it happened:
// the system's own code (errno on POSIX, GetLastError() on Windows) and its
// text, carried together so that a decision can be keyed on the code and a
// person be shown the text.
#pragma once

#include <string>

struct SystemError {
    long code = 0;     // 0: no error
    std::string text;  // the system's message for the code, in the 8-bit code page

    bool Failed() const { return code != 0; }
};

// The error the calling thread's last system call left (errno, GetLastError()).
SystemError LastSystemError();
// The error of a given code.
SystemError SystemErrorOf(long code);

// Keyed on the code, whatever language the system speaks.
bool IsAccessDenied(const SystemError& e);  // EACCES, ERROR_ACCESS_DENIED
bool IsNotThere(const SystemError& e);      // ENOENT, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
