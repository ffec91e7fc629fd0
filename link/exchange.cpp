// One command, one reply: the framing every conversation with the device
// uses. See exchange.h for the contract.
#include "exchange.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "serial.h"
#include "serial_os.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::atomic<bool> g_stop{false};

std::mutex& bounds_mutex() {
    static std::mutex m;
    return m;
}

ExchangeBounds& bounds_value() {
    static ExchangeBounds b = DefaultExchangeBounds();
    return b;
}

// The last exchange of each thread, with the system's error as its code
// alone (its text follows from the code): a thread-local object must have
// no destructor, which is what the MinGW runtime has been seen to trip over
// at thread exit.
struct LastRecord {
    bool sent;
    std::size_t bytes, drained;
    Clock::time_point written, last_byte, ended;
    bool unended;
    long error_code;
};
static_assert(std::is_trivially_destructible<LastRecord>::value, "a thread-local without a destructor");
thread_local LastRecord t_last;

struct Limits {
    std::size_t bytes;  // the reply's bound: bytes, plus kLineCost per line when lines are kept
    bool timed;
    milliseconds time;
    milliseconds pause;
    bool first_line_only;
    milliseconds first_wait;     // silence before the first byte that ends the reply
    milliseconds end_silence;    // silence after a byte that ends the reply
    long patient_lines;          // while fewer lines have come, kLongSilence ends the reply instead
    milliseconds drain_silence;  // silence that ends the drain (0: its first idle read)
};

bool stopping() { return g_stop.load(std::memory_order_acquire); }

// Drains what an earlier exchange left unread, up to the first silence (for
// the listing and the upload: up to lim.drain_silence of it). False, with
// *end set, when the exchange ends in it.
bool drain(com_handle_t h, const ExchangeBounds& bounds, const Limits& lim, ExchangeStats& stats, ExchangeEnd* end) {
    const auto began = Clock::now(), until = began + bounds.drain_time;
    auto heard = began;
    unsigned char byte = 0;
    for (;;) {
        if (stopping()) {
            *end = ExchangeEnd::Stopped;
            return false;
        }
        const serial_os::Read r = serial_os::ReadByte(h, &byte);
        if (r == serial_os::Read::Failed) return true;
        if (r == serial_os::Read::Idle) {
            if (Clock::now() - heard >= lim.drain_silence) return true;
            continue;
        }
        heard = Clock::now();
        if (++stats.drained > bounds.drain_bytes || heard > until) {
            *end = ExchangeEnd::Overrun;
            return false;
        }
    }
}

// The silence after which an idle read ends the reply: before its first
// byte, while fewer than lim.patient_lines lines came, and after that.
milliseconds silence_that_ends(const ExchangeStats& stats, long lines, const Limits& lim) {
    if (stats.bytes == 0) return lim.first_wait;
    return lines < lim.patient_lines ? kLongSilence : lim.end_silence;
}

// Reads the reply to its end; `budget` idle (or failed) reads in a row come
// before any silence is timed. `on_line` receives every complete line
// (without its CR); `partial` keeps the bytes of the unfinished line.
template <class OnLine>
ExchangeEnd receive(com_handle_t h, int budget, const Limits& lim, ExchangeStats& stats, std::string& partial,
                    OnLine&& on_line) {
    const auto until = Clock::now() + lim.time;
    std::size_t cost = 0;
    long lines = 0;
    int idle = 0;
    unsigned char byte = 0;
    for (;;) {
        if (stopping()) return ExchangeEnd::Stopped;
        const auto read_began = Clock::now();
        const serial_os::Read r = serial_os::ReadByte(h, &byte, &stats.error);
        if (r != serial_os::Read::Byte && idle < budget) {
            // Counted in a row (a byte starts the count again). A failed
            // read returns at once: it is counted, never timed.
            ++idle;
            continue;
        }
        if (r == serial_os::Read::Failed) return ExchangeEnd::LineLost;
        if (r == serial_os::Read::Idle) {
            // Timed from the read's start: a byte that came while this thread
            // was not running is found by the read, so a late thread cannot
            // take a pause for the end.
            if (read_began - stats.last_byte < silence_that_ends(stats, lines, lim)) continue;
            // Silence from a device that is gone is a lost line.
            if (!serial_os::Alive(h, &stats.error)) return ExchangeEnd::LineLost;
            return ExchangeEnd::Silence;
        }
        idle = 0;
        ++stats.bytes;
        stats.last_byte = Clock::now();
        if (++cost > lim.bytes) return ExchangeEnd::Overrun;
        if (lim.timed && stats.last_byte > until) return ExchangeEnd::Overrun;

        if (Frame(byte, &partial) == Framed::LineEnd) {
            if (lim.first_line_only) return ExchangeEnd::LineEnd;
            cost += kLineCost;
            if (cost > lim.bytes) return ExchangeEnd::Overrun;
            on_line(partial);
            partial.clear();
            ++lines;
        }
    }
}

// Runs one exchange: the drain, the command, the reply. What it did is kept
// for LastExchange().
template <class OnLine>
ExchangeEnd run(const Connection& line, const std::string& cmd, int budget, const Limits& lim, std::string& partial,
                OnLine&& on_line) {
    ExchangeStats stats;
    stats.written = stats.last_byte = Clock::now();
    struct Finish {
        ExchangeStats& s;
        ~Finish() { t_last = {s.sent, s.bytes, s.drained, s.written, s.last_byte, Clock::now(), false, s.error.code}; }
    } finish{stats};

    const com_handle_t h = line.Handle();
    if (h == INVALID_COM_HANDLE) return ExchangeEnd::NotOpen;
    const ExchangeBounds bounds = GetExchangeBounds();
    ExchangeEnd end = ExchangeEnd::Silence;
    if (!drain(h, bounds, lim, stats, &end)) return end;

    if (stopping()) return ExchangeEnd::Stopped;
    // A command is written up to its first NUL, as a C string would be.
    if (!serial_os::Write(h, cmd.c_str(), std::strlen(cmd.c_str()), bounds.write, &g_stop, &stats.error))
        return stopping() ? ExchangeEnd::Stopped : ExchangeEnd::WriteFailed;
    stats.sent = true;
    stats.written = stats.last_byte = Clock::now();
    std::this_thread::sleep_for(lim.pause);
    return receive(h, budget < 1 ? 1 : budget, lim, stats, partial, std::forward<OnLine>(on_line));
}

}  // namespace

// The bounds only have to stop a device that never falls silent; none of
// them may cut a real reply.
// - write 3 s: a command is a few bytes, out in about a millisecond at
//   115200 baud; a device that holds CTS off for seconds is not listening.
// - drain 64 KiB or 10 s: the drain only eats the unread rest of an earlier
//   reply (mostly a line or two after krx_cmd's first); a line that keeps
//   talking past that will not fall silent for the command either.
// - krx_cmd 64 KiB or 10 s: its replies are a short status line, and it
//   returns at the first carriage return.
// - mlt_cmd 4 MiB or 120 s: the listing is one 16-byte line per log; 4 MiB
//   with kLineCost per line is about 37,000 logs, far more than the
//   device's storage holds.
// - slt_cmd 256 MiB and no time bound: a log of many megabytes streams for
//   minutes to hours at the line rate (about 91 s per MB), so time cannot
//   tell a long log from a runaway one. The bound counts kLineCost per line
//   beside the bytes, so it holds about 89 MiB of 50-byte lines or 2.7
//   million empty ones; with the window's view filled, either stays under
//   about 800 MiB of memory (bench_view --largest N), where counting bytes
//   alone let a stream of short lines reach several GiB.
//   Closing the window stops an upload through StopExchanges.
ExchangeBounds DefaultExchangeBounds() {
    ExchangeBounds b;
    b.write = milliseconds(3000);
    b.drain_bytes = std::size_t{64} * 1024;
    b.drain_time = milliseconds(10000);
    b.krx_bytes = std::size_t{64} * 1024;
    b.mlt_bytes = std::size_t{4} * 1024 * 1024;
    b.slt_bytes = kReplyBound;
    b.reply_time = milliseconds(10000);
    b.list_time = milliseconds(120000);
    b.tail = kTailQuiet;
    return b;
}

void SetExchangeBounds(const ExchangeBounds& bounds) {
    std::lock_guard<std::mutex> lock(bounds_mutex());
    bounds_value() = bounds;
}

ExchangeBounds GetExchangeBounds() {
    std::lock_guard<std::mutex> lock(bounds_mutex());
    return bounds_value();
}

Framed Frame(unsigned char byte, std::string* line) {
    if (byte == 0x0A) return Framed::Dropped;
    if (byte == 0x0D) return Framed::LineEnd;
    line->push_back(static_cast<char>(byte));
    return Framed::Kept;
}

void StopExchanges(bool on) { g_stop.store(on, std::memory_order_release); }

ExchangeStats LastExchange() {
    ExchangeStats s;
    s.sent = t_last.sent;
    s.bytes = t_last.bytes;
    s.drained = t_last.drained;
    s.written = t_last.written;
    s.last_byte = t_last.last_byte;
    s.ended = t_last.ended;
    s.unended = t_last.unended;
    s.error = SystemErrorOf(t_last.error_code);
    return s;
}

// krx_cmd's line is a C string to its callers: it ends before a NUL byte.
std::string krx_cmd(const Connection& connection, const std::string& cmd, int budget, ExchangeEnd* end,
                    milliseconds answer_wait) {
    const ExchangeBounds b = GetExchangeBounds();
    const milliseconds after_bytes = answer_wait.count() > 0 ? kEndSilence : milliseconds(0);
    const Limits lim{b.krx_bytes, true, b.reply_time,   milliseconds(10), true, answer_wait,
                     after_bytes, 0,    milliseconds(0)};
    std::string line;
    const ExchangeEnd e = run(connection, cmd, budget, lim, line, [](const std::string&) {});
    if (end) *end = e;
    const auto nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    return line;
}

ExchangeEnd mlt_cmd(const Connection& connection, const std::string& cmd, TStringList& list, int budget) {
    const ExchangeBounds b = GetExchangeBounds();
    const Limits lim{b.mlt_bytes,    true,        b.list_time, milliseconds(2), false,
                     kFirstByteWait, kEndSilence, 0,           kDrainSilence};
    std::string line;
    return run(connection, cmd, budget, lim, line, [&list](const std::string& l) { list.Add(l); });
}

ExchangeEnd slt_cmd(const Connection& connection, const std::string& cmd, TStringList& list, int budget,
                    const std::function<void(int)>& progress, long expected_lines) {
    const ExchangeBounds b = GetExchangeBounds();
    const Limits lim{b.slt_bytes,    false,       milliseconds(0), milliseconds(2), false,
                     kFirstByteWait, kEndSilence, expected_lines,  kDrainSilence};
    std::string line;
    int added = 0;
    const auto add = [&](const std::string& l) {
        if (progress) progress(added);
        list.Add(l);
        ++added;
    };
    const ExchangeEnd end = run(connection, cmd, budget, lim, line, add);
    if (!line.empty() && end != ExchangeEnd::Stopped) {
        add(line);
        t_last.unended = true;
    }
    return end;
}

Tail ListenForTail(const Connection& connection, milliseconds span) {
    Tail tail;
    const com_handle_t h = connection.Handle();
    if (h == INVALID_COM_HANDLE) return tail;
    const ExchangeBounds bounds = GetExchangeBounds();
    if (span.count() < 0) span = bounds.tail;
    const auto began = Clock::now();
    auto heard = began;
    unsigned char byte = 0;
    for (;;) {
        if (g_stop.load(std::memory_order_acquire)) {
            tail.stopped = true;
            break;
        }
        const serial_os::Read r = serial_os::ReadByte(h, &byte, &tail.error);
        if (r == serial_os::Read::Failed) {
            tail.failed = true;
            break;
        }
        const auto now = Clock::now();
        if (r == serial_os::Read::Idle) {
            if (now - heard >= (tail.bytes == 0 ? span : kDrainSilence)) break;
            continue;
        }
        heard = now;
        if (++tail.bytes > bounds.drain_bytes || now - began > bounds.drain_time) {
            tail.quiet = false;
            break;
        }
    }
    return tail;
}

std::string krx_cmd(const std::string& cmd, int budget, ExchangeEnd* end, milliseconds answer_wait) {
    return krx_cmd(WindowConnection(), cmd, budget, end, answer_wait);
}

ExchangeEnd mlt_cmd(const std::string& cmd, TStringList& list, int budget) {
    return mlt_cmd(WindowConnection(), cmd, list, budget);
}

ExchangeEnd slt_cmd(const std::string& cmd, TStringList& list, int budget, const std::function<void(int)>& progress,
                    long expected_lines) {
    return slt_cmd(WindowConnection(), cmd, list, budget, progress, expected_lines);
}

Tail ListenForTail(milliseconds span) { return ListenForTail(WindowConnection(), span); }
