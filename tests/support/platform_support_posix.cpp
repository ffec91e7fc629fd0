#include "platform_support.h"

std::string MissingPort() { return "/dev/krx3-no-such-port"; }
std::string PathNotFoundReason() { return "Not a directory"; }
bool RunningUnderWine() { return false; }
