#include "port_name.h"

std::string PortPath(const std::string& port) { return port.find('/') != std::string::npos ? port : "/dev/" + port; }
