// The conversations with the device, each from opening the port to closing
// it, for every front end (the window's workers, the command line). Each
// returns what came and a decided outcome: how the conversation ended, in
// terms a front end presents without knowing the line underneath.
//
// Every conversation starts with the preamble "md mach\r" and "fs stop\r"
// (krx_cmd, idle budget 2 each, each answer waited for up to kLateAnswer)
// and then sends its own command. The first
// exchange that does not end normally ends the conversation: a device that
// takes no command is not waited on again. The port is closed before a
// conversation returns, also when a pause throws.
//
// A conversation runs on the caller's thread, on the connection it is given
// (the window's, hCom, when none is given): one at a time on each
// connection; conversations on different connections run side by side.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/stringlist.h"
#include "base/system_error.h"
#include "catalogue/fatdss.h"
#include "link/serial.h"

// How a conversation ended. Where several hold, the first in this order
// counts: a broken connection says more than the silence that came with it.
enum class Ending {
    Done,           // it ran to its end and the device answered; a read: the log came whole (see ReadLog)
    PortNotOpened,  // the port did not open (the system's error, and advice where known)
    Stopped,        // StopConversations ended it (the window is closing)
    LineLost,       // the connection broke (the system's error, where it gave one)
    Cut,            // a reply was cut: at its bound, or it went on after its end was taken (`after_end`)
    NotSent,        // a command could not be written: the device did not take it in time
    DeviceSilent,   // the port opened and the device sent not one byte
    NoLines,        // the device answered, but sent no line of the log (a read) or of the listing
    Short,          // a read: fewer lines came than the log's duration leads to expect (`lines`, `expected`)
    Unended,        // a read: as many lines came, but the last one without its line end
};

struct Outcome {
    Ending kind = Ending::Done;
    bool answered = false;      // the device sent something (a late answer counts)
    bool sent = false;          // the conversation's own command was written
    SystemError error;          // the system's error, where one exists
    std::string advice;         // PortNotOpened: what the user can do, where that is known
    long lines = 0;             // a read: the lines that came (a last one without its line end counted)
    long expected = 0;          // a read: the lines its duration leads to expect; 0: no duration to count from
    std::size_t after_end = 0;  // Cut: bytes that came after the reply had ended by silence (0: cut at its bound)

    // What came is all there is: Done.
    bool Whole() const { return kind == Ending::Done; }
    // The connection or a reply broke off: what came may be incomplete.
    bool Broken() const { return kind == Ending::LineLost || kind == Ending::Cut || kind == Ending::NotSent; }
    // A read ended by silence as the device ended it, but that it is whole is
    // not proven: what came is the device's log as far as anyone can tell, and
    // is kept under the log's own name, but nothing is deleted on its strength.
    bool Unproven() const { return kind == Ending::Short || kind == Ending::Unended; }
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
    // It ended as the device ended it: Done, or NoLines (no line at all,
    // which lists no log either).
    bool Complete() const { return outcome.Whole() || outcome.kind == Ending::NoLines; }

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

// "fs list\r": the pause of 100 ms after opening and before the command. A
// listing that brought no line at all is NoLines when the line then stays
// quiet (the device may hold no logs, or may not have begun in time), and
// Cut when bytes still come.
Listing ListLogs(Connection& line, const std::string& port, const Pause& pause = {});
Listing ListLogs(const std::string& port, const Pause& pause = {});

// What is known of a log's length, and what is guessed.
//
// Known: the listing gives the log's start and stop. A device of this kind
// writes one line every kSecondsPerLine seconds, one at the start and one at
// the stop, so a log of `dur` seconds holds dur / 2 + 1 lines. (The progress
// bar says the same: its maximum is dur / 2, and it is full from the line
// whose 0-based index is that maximum.)
//
// Guessed: nothing on the wire marks a log's end. A read ends on silence;
// that silence (kEndSilence, 0.26 s) is only taken for the end once the
// expected lines have come and the last of them ended with its line end. A
// logger that wrote more lines than its duration leads to expect and paused
// after that count would be cut there: the one guess left. Any other end by silence is
// Short or Unended, and no rule deletes a log on such a read; before the
// port closes on one, the line has to stay quiet for kTailQuiet more, and
// bytes that come then make it Cut.
constexpr std::uint32_t kSecondsPerLine = 2;
constexpr long LinesOf(std::uint32_t dur) { return static_cast<long>(dur / kSecondsPerLine) + 1; }
constexpr int ProgressMaximum(std::uint32_t dur) { return static_cast<int>(dur / kSecondsPerLine); }
// The lines `log` holds, or 0 when its listing gives no duration to count
// from (a date that is none, a stop before the start).
long ExpectedLines(const fatdss_t& log);

// "fs read NAME\r" for `log` (its name, and its duration for the lines to
// expect), 100 ms after opening. While fewer than the expected lines have
// come, a pause is waited out for 3 s (kLongSilence); after them the reply
// ends on kEndSilence: a log of the expected length ends as quickly as ever.
// Done only as the rule above says.
// `line`, when given, gets each line of the reply once, in order, as it
// comes (the window packs them meanwhile).
LogRead ReadLog(Connection& connection, const std::string& port, const fatdss_t& log, const Progress& progress,
                const Pause& pause = {}, const std::function<void(const std::string&)>& line = {});
LogRead ReadLog(const std::string& port, const fatdss_t& log, const Progress& progress, const Pause& pause = {},
                const std::function<void(const std::string&)>& line = {});

// "fs del NAME\r" (krx_cmd, idle budget 1, its answer waited for up to
// kLateAnswer) 500 ms after the preamble.
Deletion DeleteLog(Connection& line, const std::string& port, const std::string& name, const Pause& pause = {});
Deletion DeleteLog(const std::string& port, const std::string& name, const Pause& pause = {});

// While on, every conversation ends at its next read (or before writing)
// as Stopped. Thread-safe; used when the window closes during a run.
void StopConversations(bool on);

// The sentences both front ends build their messages from.

// "The port "P" could not be opened:\nREASON\n\nCONSEQUENCE".
std::string OpenFailureText(const std::string& port, const Outcome& o, const std::string& consequence);
// For a conversation in which the device sent not one byte (!o.answered)
// and that neither failed at the port nor was stopped: that it did not
// answer, or what broke when the conversation broke too. `what` names the
// reply ("listing", "upload").
std::string UnansweredText(const Outcome& o, const std::string& port, const std::string& what,
                           const std::string& consequence);
// For a broken conversation (Outcome::Broken()), or empty; `what` names the
// reply ("listing", "upload").
std::string BrokenText(const Outcome& o, const std::string& what);
// For a listing that held no log but other lines.
std::string NoLogsListedText(const std::string& port, const std::vector<std::string>& other);
// For a listing that brought no line at all (NoLines): what is known of it.
std::string NothingListedText(const std::string& port);
// For a read that is Unproven(): how much came of how much, and why it is
// not known to be whole. One sentence or two, without a consequence.
std::string UnprovenText(const Outcome& o, const std::string& name);
// A device's text for a message: its first lines, each at most 80 bytes.
std::string Quoted(const std::vector<std::string>& lines, std::size_t max_lines = 5);

// What a user can do about a port the system refused to open, when the
// reason is one a user can mend (on Linux: not being in the group that owns
// the device node); empty otherwise. `port` as given to OpenCom.
std::string OpenFailureAdvice(const std::string& port, const SystemError& error);
