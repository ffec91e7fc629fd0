// A simulated KRX3 on a pseudo-terminal.
//
// It opens a pseudo-terminal whose slave side (PortPath()) the tool opens
// like a serial port, and answers the device's commands with
// carriage-return-ended lines:
//   "md mach\r", "fs stop\r"  -> "ok"
//   "fs list\r"               -> one line per log: start code, blank, stop code
//   "fs read NAME\r"          -> the log's lines
//   "fs del NAME\r"           -> removes the log, answers "ok"
// (each answer can be changed: see Behaviour).
// Anything else is answered with "?". Every command received is recorded
// with the time it arrived. It can be told to misbehave (see Behaviour).
// Thread-safe: the device runs on a thread of its own.
//
// In Windows builds the same class is a proxy for a device that
// "krx3-sim --control" runs beside Wine (simulator_remote_win32.cpp); its
// PortPath() is then a COM port name such as "COM5".
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krx3sim {

struct Log {
    std::string start_code;          // seven letters; also the log's name
    std::string stop_code;           // seven letters
    std::vector<std::string> lines;  // the log's lines, without line ends
};

struct Command {
    std::string text;  // as received, without its carriage return
    std::chrono::steady_clock::time_point arrived;
};

struct Behaviour {
    std::chrono::milliseconds delay_before_reply{0};  // silence before the first byte
    int pause_every_lines = 0;                        // pause after every n-th reply line (0: never)
    std::chrono::milliseconds pause{0};               // length of such a pause
    bool paced = false;                               // 115200 baud, 10 bits a byte: 11,520 bytes/s
    std::string line_end = "\r";                      // "\r", "\n\r", "\r\n", or "\n" (LF alone ends no line)
    bool silent = false;                              // never answers
    bool endless_reply = false;                       // "fs read" streams lines without end
    long close_after_bytes = -1;                      // hang up after sending this many reply bytes (-1: never)
    std::chrono::milliseconds list_delay{0};          // more silence before a listing ("fs list") starts
    std::chrono::milliseconds read_delay{0};          // more silence before a log ("fs read") starts
    std::vector<std::string> extra_list_lines;        // lines that are not logs, sent before the listing's
    std::string del_reply = "ok";                     // the answer to "fs del" ("": none)
    bool keep_on_delete = false;                      // "fs del" leaves the log where it is
    long pause_before_line = -1;                      // a log ("fs read"): a pause before its line k (0-based)
    std::chrono::milliseconds line_pause{0};          // the length of that pause
    bool last_line_unended = false;                   // a log's last line goes out without its line end
    long answer_commands = -1;                        // answers only so many commands, then none (-1: all)
};

// Sample logs with realistic start and stop codes and contents: `count` logs,
// the first starting at `first_start` (a DOS date-time value), each with
// `lines` lines.
std::vector<Log> SampleLogs(int count, int lines, std::uint32_t first_start = 0x4ACF53CA);

// Record k of a made-up log, for replies that go on without end.
std::string SampleRecord(long long k);

// The .log files of a folder, each taken as one log whose start time is the
// file's name (YYYY_MM_DD_hh_mm_ss.log) or, failing that, its modification time.
std::vector<Log> LogsFromFolder(const std::string& folder);

class Simulator {
public:
    explicit Simulator(std::vector<Log> logs = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The device path to open, such as /dev/pts/3. Throws std::runtime_error
    // from the constructor when no pseudo-terminal can be had.
    const std::string& PortPath() const;

    void SetBehaviour(const Behaviour& b);
    Behaviour GetBehaviour() const;

    void SetLogs(std::vector<Log> logs);
    std::vector<Log> Logs() const;

    std::vector<Command> Commands() const;
    void ClearCommands();
    // Waits until at least `n` commands were received, at most `bound`.
    bool WaitForCommands(std::size_t n, std::chrono::milliseconds bound) const;

    // Hangs up now: the line closes as when the cable is pulled.
    void HangUp();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace krx3sim
