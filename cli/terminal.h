// The console: the progress line of a transfer on standard error, the lines
// of several transfers at once, and Ctrl-C.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// True when standard error is a terminal.
bool StderrIsTerminal();
// True when standard error is a terminal that takes the cursor-movement
// sequences (on Windows: the console was switched to them).
bool StderrMovesCursor();

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

    const std::string& Name() const { return name_; }
    // The line's text now, with the rate since the transfer began.
    std::string Now(int lines, std::size_t bytes) const;

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

// Lines on standard error, one per logger, rewritten in place while several
// transfers run at once; shown only on a terminal that moves the cursor,
// otherwise only the line last set is shown, as TransferLine does. Not
// thread-safe: its caller calls it one thread at a time.
class ProgressBoard {
public:
    ProgressBoard();
    ~ProgressBoard() { Erase(); }
    ProgressBoard(const ProgressBoard&) = delete;
    ProgressBoard& operator=(const ProgressBoard&) = delete;
    // Sets the line of `key` (a new key's line goes below the others); the
    // lines are drawn again at most five times a second.
    void Set(const std::string& key, const std::string& text);
    void Remove(const std::string& key);
    // Takes the lines off the screen, before other output; the next Set
    // draws them again.
    void Erase();

private:
    void Draw();
    bool on_, moves_;
    std::vector<std::pair<std::string, std::string>> lines_;
    std::size_t drawn_ = 0;  // lines on the screen (moves_), or the width of the one line
    std::chrono::steady_clock::time_point shown_{};
};

// From now on Ctrl-C (on POSIX also SIGTERM and SIGHUP; on Windows also
// closing the console) sets *flag and ends the
// conversation in progress (StopConversations) instead of ending the
// program, which then ends by itself, cleanly.
void StopOnInterrupt(std::atomic<bool>* flag);
