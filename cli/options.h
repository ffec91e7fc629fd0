// krx3's command line: its help, its options, and how it says things.
#pragma once

#include <string>
#include <vector>

// The exit statuses.
enum Status { kDone = 0, kFailed = 1, kUsage = 2, kNoAnswer = 3 };

extern const char kHelp[];

struct Options {
    std::string command;
    std::string port;
    std::string to = ".";
    std::string saved_in;
    bool json = false;
    bool all_new = false;
    bool by_serial = false;        // pull: into TO/SERIAL
    bool delete_verified = false;  // watch
    int parallel = 0;              // watch: adapters served at once (0: all)
    std::string serial;            // the adapter's serial number, for --by-serial
    std::vector<std::string> names;
};

// A message on standard error, on a line of its own.
void say(const std::string& text);

// Says a usage problem; returns kUsage.
int usage(const std::string& problem);

// Reads the command line into *o; returns kDone, or the status to end with.
int parse(int argc, char** argv, Options* o);
