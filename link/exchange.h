// The command exchange with the device.
//
// The host writes one command (text ending in a carriage return); the device
// answers with zero or more lines, each ended by a carriage return. A line
// feed is dropped wherever it stands. Every other byte, NUL and bytes above
// 0x7F included, belongs to its line: lines are kept whole, whatever their
// length and content.
//
// The end of a reply is recognised by silence, counted in idle reads of about
// 25 ms: an exchange with idle budget N ends at the (N+1)-th idle read in a
// row (the count starts again at 0 whenever a byte arrives); a budget below 1
// counts as 1. The listing (mlt_cmd) and the upload (slt_cmd) wait longer,
// because a real device pauses: see kFirstByteWait and kEndSilence.
//
// Each exchange first drains what an earlier exchange left unread (the
// listing and the upload until kDrainSilence of silence), writes the
// command in one write, pauses (10 ms in krx_cmd, 2 ms in mlt_cmd and
// slt_cmd), and then reads byte by byte.
//
// The exchanges run on the caller's thread, on the connection they are
// given (the window's, hCom, when none is given): one at a time on each.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "base/reply_bound.h"
#include "base/stringlist.h"
#include "base/system_error.h"
#include "serial.h"

// The listing and the upload end only on silence that no working device
// produces inside a reply:
// - the first byte may come up to 2 s after the command: a device opens its
//   storage before it answers a listing or a log (about 1 s has been seen);
// - once bytes flow, a reply ends at an idle read that began 260 ms or more
//   after the last byte: the line was then silent for at least 285 ms, and
//   the reply is over within about 310 ms of that byte. Pauses of 200 ms and
//   more have been seen inside a log (a flash page being read); the margin
//   keeps such a pause apart from the end even when this thread was not
//   scheduled for a while. The first byte's wait is kept the same way.
// krx_cmd keeps the plain idle budget, unless its caller waits for the
// answer line (answer_wait, kLateAnswer).
constexpr std::chrono::milliseconds kFirstByteWait{2000};
constexpr std::chrono::milliseconds kEndSilence{260};
// Nothing marks the end of a log on the wire, but an upload knows how many
// lines to expect (see slt_cmd). While fewer have come, a pause is taken for
// the end only after this much silence: a device that reads its storage has
// been seen to pause for 1 s inside a log, and cutting a log there loses its
// second half. 3 s keeps pauses of up to about 2.5 s inside the log, and a
// device that stops early is still done with within a few seconds.
constexpr std::chrono::milliseconds kLongSilence{3000};
// Before the listing's and the upload's command, what is left of the
// preamble is drained until the line has been silent this long: a device
// that answers "md mach" or "fs stop" later than it was waited for would
// otherwise have its "ok" taken for the first line of the listing or of the
// log.
constexpr std::chrono::milliseconds kDrainSilence{150};
// A device has been seen to answer "md mach", "fs stop" and "fs del" up to
// 1 s late. An answer that is not waited for arrives inside the next
// exchange and becomes a line of a listing or of a log, or ends a listing
// before it began; so the conversations wait for each command's answer
// line this long (krx_cmd's `answer_wait`). A quick answer still ends the
// exchange at its carriage return.
constexpr std::chrono::milliseconds kLateAnswer{1250};
// A reply that ended by silence but is not known to be whole is taken as
// ended only when the line then stays quiet this long (ListenForTail). After
// a log's 3 s of patience, a short log so ends within about 3.3 s of its
// last byte. (ExchangeBounds::tail; tests lengthen it.)
constexpr std::chrono::milliseconds kTailQuiet{300};

enum class ExchangeEnd {
    Silence,      // the idle budget was spent (the normal end of mlt_cmd/slt_cmd)
    LineEnd,      // krx_cmd: its line's carriage return arrived
    NotOpen,      // no connection: nothing was written or read
    WriteFailed,  // the command could not be written (within the write bound)
    LineLost,     // reads failed (the line hung up) and the budget ran out on them
    Overrun,      // the reply passed its size or time bound and was cut there
    Stopped,      // StopExchanges(true) ended it
};

// The framing of a reply, one byte at a time: a line feed is dropped, a
// carriage return ends the line gathered in *line, and every other byte is
// added to it.
enum class Framed { Dropped, LineEnd, Kept };
Framed Frame(unsigned char byte, std::string* line);

// Limits that keep a device that never falls silent from holding the caller
// forever. Defaults: see exchange.cpp.
struct ExchangeBounds {
    std::chrono::milliseconds write;  // a command held back by flow control
    std::size_t drain_bytes;          // the drain before the command
    std::chrono::milliseconds drain_time;
    std::size_t krx_bytes;                 // krx_cmd's reply
    std::size_t mlt_bytes;                 // mlt_cmd's reply (the log listing), bytes + kLineCost a line
    std::size_t slt_bytes;                 // slt_cmd's reply (a whole log), bytes + kLineCost a line
    std::chrono::milliseconds reply_time;  // krx_cmd's reply
    std::chrono::milliseconds list_time;   // mlt_cmd's reply; slt_cmd has none: a log may take hours
    std::chrono::milliseconds tail;        // ListenForTail's quiet (kTailQuiet)
};
ExchangeBounds DefaultExchangeBounds();
void SetExchangeBounds(const ExchangeBounds& bounds);  // tests lower them
ExchangeBounds GetExchangeBounds();

// While on, every exchange ends at its next read (or before writing) with
// Stopped. Thread-safe; used when the window closes during a run.
void StopExchanges(bool on);

// What the last exchange on the calling thread received, and when.
struct ExchangeStats {
    bool sent = false;                                // the command was written
    std::size_t bytes = 0;                            // reply bytes after the command
    std::size_t drained = 0;                          // bytes the drain before it threw away
    std::chrono::steady_clock::time_point written;    // the command was out (or the exchange gave up)
    std::chrono::steady_clock::time_point last_byte;  // the last reply byte arrived (== written: none)
    std::chrono::steady_clock::time_point ended;      // the exchange ended
    bool unended = false;                             // slt_cmd: its last line came without a line end
    SystemError error;                                // the failed read's or write's, when the system gave one
};
ExchangeStats LastExchange();

// Sends `cmd` and returns the first reply line without its carriage return,
// or the bytes gathered when no carriage return came (possibly none). With
// an `answer_wait`, the line is waited for that long before its first byte
// (and kEndSilence after its last) once the idle budget is spent.
std::string krx_cmd(const Connection& connection, const std::string& cmd, int budget, ExchangeEnd* end = nullptr,
                    std::chrono::milliseconds answer_wait = std::chrono::milliseconds(0));
std::string krx_cmd(const std::string& cmd, int budget, ExchangeEnd* end = nullptr,
                    std::chrono::milliseconds answer_wait = std::chrono::milliseconds(0));

// Sends `cmd` and adds every complete reply line to `list` in the order of
// arrival. Bytes after the last carriage return are dropped. Ends on the
// listing's and upload's silence (kFirstByteWait, kEndSilence) once the idle
// budget is spent as well.
ExchangeEnd mlt_cmd(const Connection& connection, const std::string& cmd, TStringList& list, int budget);
ExchangeEnd mlt_cmd(const std::string& cmd, TStringList& list, int budget);

// As mlt_cmd; before adding each line it calls progress(number of lines
// added before it): 0 for the first line, 1 for the second, and so on.
// While fewer than `expected_lines` lines have come, the reply ends only on
// kLongSilence after its last byte; from then on (and always with 0) on
// kEndSilence. Bytes after the last carriage return are the device's data
// too: they are added as a last line, and LastExchange().unended says so.
ExchangeEnd slt_cmd(const Connection& connection, const std::string& cmd, TStringList& list, int budget,
                    const std::function<void(int)>& progress, long expected_lines = 0);
ExchangeEnd slt_cmd(const std::string& cmd, TStringList& list, int budget, const std::function<void(int)>& progress,
                    long expected_lines = 0);

// What came after a reply had ended by silence.
struct Tail {
    std::size_t bytes = 0;  // thrown away
    bool quiet = true;      // the line fell silent again within the drain's bounds
    bool stopped = false;   // StopExchanges(true) ended the listening
    bool failed = false;    // a read failed (the line hung up): no quiet was heard
    SystemError error;      // failed: the system's error
};
// Listens on the line until it has been quiet for `span` (by default the
// bounds' tail, kTailQuiet): a reply that ended by silence and is not known
// to be whole is only taken as ended when the line stays quiet. Bytes that
// come are thrown away up to the next kDrainSilence of silence (within the
// drain's bounds), so that none of them reaches the next conversation as
// its first lines.
Tail ListenForTail(const Connection& connection, std::chrono::milliseconds span = std::chrono::milliseconds(-1));
Tail ListenForTail(std::chrono::milliseconds span = std::chrono::milliseconds(-1));
