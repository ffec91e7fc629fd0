// The command exchange with the device.
//
// The host writes one command (text ending in a carriage return); the device
// answers with zero or more lines, each ended by a carriage return. A line
// feed is dropped wherever it stands. The end of a reply is recognised by
// silence: an exchange with idle budget N ends at the (N+1)-th idle read in
// a row (the count starts again at 0 whenever a byte arrives); a budget below
// 1 counts as 1.
//
// Each exchange first drains what an earlier exchange left unread, writes the
// command in one write, pauses (10 ms in krx_cmd, 2 ms in mlt_cmd and
// slt_cmd), and then reads byte by byte. Lines are kept whole, whatever their
// length; a line handed to a list ends before its first NUL byte.
//
// The exchanges run on the caller's thread and use hCom: one at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "stringlist.h"

enum class ExchangeEnd {
    Silence,      // the idle budget was spent (the normal end of mlt_cmd/slt_cmd)
    LineEnd,      // krx_cmd: its line's carriage return arrived
    NotOpen,      // no connection: nothing was written or read
    WriteFailed,  // the command could not be written (within the write bound)
    LineLost,     // reads failed (the line hung up) and the budget ran out on them
    Overrun,      // the reply passed its size or time bound and was cut there
    Stopped,      // StopExchanges(true) ended it
};

// Limits that keep a device that never falls silent from holding the caller
// forever. Defaults: see exchange.cpp.
struct ExchangeBounds {
    std::chrono::milliseconds write;     // a command held back by flow control
    std::size_t drain_bytes;             // the drain before the command
    std::chrono::milliseconds drain_time;
    std::size_t krx_bytes;               // krx_cmd's reply
    std::size_t mlt_bytes;               // mlt_cmd's reply (the log listing)
    std::size_t slt_bytes;               // slt_cmd's reply (a whole log)
    std::chrono::milliseconds reply_time;  // krx_cmd's reply
    std::chrono::milliseconds list_time;   // mlt_cmd's reply; slt_cmd has none: a log may take hours
};
ExchangeBounds DefaultExchangeBounds();
void SetExchangeBounds(const ExchangeBounds& bounds);  // tests lower them
ExchangeBounds GetExchangeBounds();

// While on, every exchange ends at its next read (or before writing) with
// Stopped. Thread-safe; used when the window closes during a run.
void StopExchanges(bool on);

// Sends `cmd` and returns the first reply line without its carriage return,
// or the bytes gathered when no carriage return came (possibly none).
std::string krx_cmd(const std::string& cmd, int budget, ExchangeEnd* end = nullptr);

// Sends `cmd` and adds every complete reply line to `list` in the order of
// arrival. Bytes after the last carriage return are dropped.
ExchangeEnd mlt_cmd(const std::string& cmd, TStringList& list, int budget);

// As mlt_cmd; before adding each line it calls progress(number of lines
// added before it): 0 for the first line, 1 for the second, and so on.
ExchangeEnd slt_cmd(const std::string& cmd, TStringList& list, int budget,
                    const std::function<void(int)>& progress);
