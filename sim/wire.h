// The text form of the simulator's state, for driving a simulator in another
// process: the control server of krx3-sim (control_linux.cpp) and the
// Windows test programs' remote simulator (simulator_remote_win32.cpp).
//
// A request and its answer are one line each, ended by '\n'. Words are
// separated by single spaces; any text that may hold arbitrary bytes (log
// lines, commands, line ends) travels as "x" followed by its bytes in hex,
// so "x" alone is the empty text.
//
//   new LOGS          -> ok PTY-PATH PORT   (first request; PORT is the
//                                            Windows port name, or "-")
//   behave BEHAVIOUR  -> ok
//   behaviour         -> ok BEHAVIOUR
//   setlogs LOGS      -> ok
//   logs              -> ok LOGS
//   commands          -> ok COMMANDS        (each with its age in µs)
//   clear             -> ok
//   wait N MS         -> ok 1 | ok 0
//   hangup            -> ok
// A request that fails is answered "error TEXT". Closing the connection
// ends its simulator.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "simulator.h"

namespace krx3sim {
namespace wire {

std::string Text(const std::string& bytes);
bool Text(std::istream& in, std::string* bytes);

std::string Logs(const std::vector<Log>& logs);
bool Logs(std::istream& in, std::vector<Log>* logs);

std::string Behaviours(const Behaviour& b);
bool Behaviours(std::istream& in, Behaviour* b);

// Commands with their age (now - arrival) in microseconds.
struct AgedCommand {
    std::string text;
    long long age_us = 0;
};
std::string Commands(const std::vector<AgedCommand>& commands);
bool Commands(std::istream& in, std::vector<AgedCommand>* commands);

}  // namespace wire
}  // namespace krx3sim
