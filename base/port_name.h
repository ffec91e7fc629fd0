// A serial port's name as people write it (COM3, ttyUSB0) and as the system
// opens it.
#pragma once

#include <string>

// The path the system opens for `port`. A name that is already a path is
// kept as given; on POSIX a bare name such as ttyUSB0 lives in /dev, on
// Windows a name is opened in the device namespace ("//./COM10": COM10 and
// above are reachable only there).
std::string PortPath(const std::string& port);

// True when both name the same port, by name or by path (ttyUSB0 and
// /dev/ttyUSB0).
inline bool SamePort(const std::string& a, const std::string& b) { return PortPath(a) == PortPath(b); }
