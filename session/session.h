// The conversations with the device, each from opening the port to closing
// it, for every front end (the window's workers, the command line).
//
// Every conversation starts with the preamble "md mach\r" and "fs stop\r"
// (krx_cmd, idle budget 2 each) and then sends its own command. The first
// exchange that does not end normally ends the conversation: a device that
// takes no command is not waited on again. The port is closed before a
// conversation returns, also when a pause throws.
//
// A conversation runs on the caller's thread and uses the process-wide
// connection (hCom): one at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "exchange.h"
#include "stringlist.h"

// How a conversation went.
struct Conversation {
    bool opened = false;                     // the port opened
    std::string open_error;                  // else why not: the system's reason, and what to do where that is known
    ExchangeEnd end = ExchangeEnd::Silence;  // the last exchange's end (the first abnormal one stops the rest)
    std::size_t heard = 0;                   // bytes the device sent, the drained ones too: a late answer still counts
    bool sent = false;                       // the conversation's own command was written
    TStringList reply;                       // its reply lines; "fs del": the first line, when one came

    // The conversation ran to its end: the port opened and no exchange
    // ended abnormally.
    bool Complete() const { return opened && Normal(end); }
    // The port opened and the device sent nothing at all.
    bool Silent() const { return opened && heard == 0; }

    // True for the ends of an exchange after which the conversation goes on.
    static bool Normal(ExchangeEnd end) { return end == ExchangeEnd::Silence || end == ExchangeEnd::LineEnd; }
};

// Waits so many milliseconds. The window's workers pass their own, which
// ends early by throwing when the window closes; the default sleeps.
using Pause = std::function<void(int milliseconds)>;

// "fs list\r": the pause of 100 ms after opening and before the command.
Conversation ListLogs(const std::string& port, const Pause& pause = {});

// Called before each line of a log is kept, with the number of lines and
// of bytes (line ends counted) that came before it.
using Progress = std::function<void(int lines, std::size_t bytes)>;

// "fs read NAME\r": 100 ms after opening.
Conversation ReadLog(const std::string& port, const std::string& name, const Progress& progress,
                     const Pause& pause = {});

// "fs del NAME\r" (krx_cmd, idle budget 1) 500 ms after the preamble.
Conversation DeleteLog(const std::string& port, const std::string& name, const Pause& pause = {});

// The texts both front ends show.

// "The port "P" could not be opened:\nREASON\n\nCONSEQUENCE".
std::string OpenFailureText(const std::string& port, const std::string& reason, const std::string& consequence);
// For a device that sent not one byte to any command of a conversation.
std::string NoAnswerText(const std::string& port, const std::string& consequence);
// For an exchange that did not end normally, or empty; `what` names the
// reply ("listing", "upload").
std::string ExchangeProblem(ExchangeEnd end, const std::string& what);
// Splits a listing's reply: the lines that are logs (is_log_line) go into
// *logs; the others are returned, for a message when no log came.
std::vector<std::string> SplitListing(const TStringList& reply, TStringList* logs);
// For a listing that held no log but other lines.
std::string NoLogsListedText(const std::string& port, const std::vector<std::string>& other);
// A device's text for a message: its first lines, each at most 80 bytes.
std::string Quoted(const std::vector<std::string>& lines, std::size_t max_lines = 5);

// What a user can do about a port the system refused to open, when the
// reason is one a user can mend (on Linux: not being in the group that owns
// the device node); empty otherwise. `port` as given to OpenCom.
std::string OpenFailureAdvice(const std::string& port, const std::string& reason);
