// krx3's commands that talk to the device, on the port chosen for them.
#pragma once

#include <string>

#include "options.h"

int listCommand(const Options& o, const std::string& port);
int pullCommand(const Options& o, const std::string& port);
int deleteCommand(const Options& o, const std::string& port);
// Serves every adapter the scan finds as it comes, until Ctrl-C.
int watchCommand(const Options& o);
// What the records in a folder of loggers say.
int reportCommand(const Options& o);
