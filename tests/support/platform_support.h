// What the tests need to know of the OS they run on.
#pragma once

#include <string>

// A port name that names no port on this OS, and the reason the OS gives
// when it is opened.
std::string MissingPort();
std::string MissingPortReason();

// True for a Windows program run by Wine, where a pseudo-terminal stands in
// for the serial port and some line events are not passed on.
bool RunningUnderWine();
