#include "session.h"

// Windows lets one program at a time have a serial port; a port that is
// there but refused is almost always held by another program.
std::string OpenFailureAdvice(const std::string&, const SystemError& error) {
    if (!IsAccessDenied(error)) return std::string();
    return "Another program may have the port open (a terminal program, or this tool a second time): close it, "
           "then try again.";
}
