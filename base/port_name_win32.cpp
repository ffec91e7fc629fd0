#include "port_name.h"

#include <algorithm>

// Both slashes separate a path on Windows; the path keeps one kind, so that
// "\\.\COM3" and "//./COM3" are the same port.
std::string PortPath(const std::string& port) {
    std::string path = port.rfind("//", 0) == 0 || port.rfind("\\\\", 0) == 0 ? port : "//./" + port;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}
