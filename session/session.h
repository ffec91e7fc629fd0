// The conversations with the device, each from opening the port to closing
// it, for every front end (the window's workers, the command line). Each
// returns what came and a decided outcome: how the conversation ended, in
// terms a front end presents without knowing the line underneath.
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
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fatdss.h"
#include "stringlist.h"
#include "system_error.h"

// How a conversation ended. Where several hold, the first in this order
// counts: a broken connection says more than the silence that came with it.
enum class Ending {
    Done,           // it ran to its end and the device answered
    PortNotOpened,  // the port did not open (the system's error, and advice where known)
    Stopped,        // StopConversations ended it (the window is closing)
    LineLost,       // the connection broke (the system's error, where it gave one)
    Cut,            // a reply did not end and was cut at its bound
    NotSent,        // a command could not be written: the device did not take it in time
    DeviceSilent,   // the port opened and the device sent not one byte
    NoLines,        // a read only: the device answered, but sent no line of the log
};

struct Outcome {
    Ending kind = Ending::Done;
    bool answered = false;  // the device sent something (a late answer counts)
    bool sent = false;      // the conversation's own command was written
    SystemError error;      // the system's error, where one exists
    std::string advice;     // PortNotOpened: what the user can do, where that is known

    // What came is all there is: Done.
    bool Whole() const { return kind == Ending::Done; }
    // The connection or a reply broke off: what came may be incomplete.
    bool Broken() const { return kind == Ending::LineLost || kind == Ending::Cut || kind == Ending::NotSent; }
    // PortNotOpened: the system's text and the advice after it.
    std::string Reason() const;
};

// The device's log listing.
struct Listing {
    Outcome outcome;
    std::vector<std::string> log_lines;  // the lines that are logs, earliest first, each once
    std::vector<fatdss_t> logs;          // log_lines decoded, with their file names
    std::vector<std::string> other;      // the lines that are not logs, as they came

    const fatdss_t* Find(const std::string& name) const;

    // What a listing made after "fs del NAME" says of that log.
    enum class AfterDelete { Gone, StillListed, NotKnown };
    AfterDelete AfterDeleting(const std::string& name) const;
};

// One log read from the device.
struct LogRead {
    Outcome outcome;
    TStringList lines;  // the lines that came, also when the read broke off
};

// One "fs del".
struct Deletion {
    Outcome outcome;
    std::string reply;  // the device's first reply line; empty when none came
};

// Waits so many milliseconds. The window's workers pass their own, which
// ends early by throwing when the window closes; the default sleeps.
using Pause = std::function<void(int milliseconds)>;

// Called before each line of a log is kept, with the number of lines and
// of bytes (line ends counted) that came before it.
using Progress = std::function<void(int lines, std::size_t bytes)>;

// "fs list\r": the pause of 100 ms after opening and before the command.
Listing ListLogs(const std::string& port, const Pause& pause = {});

// A device of this kind writes about one line every 2 s of a log.
constexpr std::uint32_t kSecondsPerLine = 2;
// The lines a log of `dur` seconds holds, about (the progress bar's scale).
constexpr std::uint32_t ExpectedLines(std::uint32_t dur) { return dur / kSecondsPerLine; }

// "fs read NAME\r": 100 ms after opening. `dur`, the log's duration in
// seconds from its listing, tells how many lines to expect (ExpectedLines).
// A pause before that many have come is waited out for longer (kLongSilence)
// than one after (kEndSilence): a log of the expected length ends as quickly
// as ever, and a pause inside a log does not cut it. 0: no expectation.
LogRead ReadLog(const std::string& port, const std::string& name, std::uint32_t dur, const Progress& progress,
                const Pause& pause = {});

// "fs del NAME\r" (krx_cmd, idle budget 1) 500 ms after the preamble.
Deletion DeleteLog(const std::string& port, const std::string& name, const Pause& pause = {});

// While on, every conversation ends at its next read (or before writing)
// as Stopped. Thread-safe; used when the window closes during a run.
void StopConversations(bool on);

// The sentences both front ends build their messages from.

// "The port "P" could not be opened:\nREASON\n\nCONSEQUENCE".
std::string OpenFailureText(const std::string& port, const Outcome& o, const std::string& consequence);
// For a device that sent not one byte to any command of a conversation.
std::string NoAnswerText(const std::string& port, const std::string& consequence);
// For a broken conversation (Outcome::Broken()), or empty; `what` names the
// reply ("listing", "upload").
std::string BrokenText(const Outcome& o, const std::string& what);
// For a listing that held no log but other lines.
std::string NoLogsListedText(const std::string& port, const std::vector<std::string>& other);
// A device's text for a message: its first lines, each at most 80 bytes.
std::string Quoted(const std::vector<std::string>& lines, std::size_t max_lines = 5);

// What a user can do about a port the system refused to open, when the
// reason is one a user can mend (on Linux: not being in the group that owns
// the device node); empty otherwise. `port` as given to OpenCom.
std::string OpenFailureAdvice(const std::string& port, const SystemError& error);
