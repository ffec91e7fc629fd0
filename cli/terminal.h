// The console: the progress line of a transfer on standard error, and Ctrl-C.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// True when standard error is a terminal.
bool StderrIsTerminal();

// One line on standard error, rewritten in place while a log transfers:
// lines, bytes, rate and the time left. Shows nothing when standard error
// is not a terminal.
class TransferLine {
public:
    // `expected_lines`: the log's line count as its duration gives it (one
    // line every two seconds); 0 when not known.
    TransferLine(std::string name, std::uint32_t expected_lines);
    ~TransferLine() { Clear(); }
    void Show(int lines, std::size_t bytes);
    // Removes the line.
    void Clear();

    // The text of the line.
    static std::string Text(const std::string& name, int lines, std::size_t bytes, double seconds,
                            std::uint32_t expected_lines);

private:
    std::string name_;
    std::uint32_t expected_;
    bool on_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point shown_{};
    std::size_t width_ = 0;
};

// From now on Ctrl-C (on POSIX also SIGTERM and SIGHUP; on Windows also
// closing the console) sets *flag and ends the
// conversation in progress (StopConversations) instead of ending the
// program, which then ends by itself, cleanly.
void StopOnInterrupt(std::atomic<bool>* flag);
