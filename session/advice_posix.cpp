#include "session.h"

// Nothing is known here that a user could do beyond what the reason says.
std::string OpenFailureAdvice(const std::string&, const SystemError&) { return std::string(); }
