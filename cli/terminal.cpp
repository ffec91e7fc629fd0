#include "terminal.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string sizeText(double bytes) {
    char text[32];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024 * 1024));
    return text;
}

}  // namespace

TransferLine::TransferLine(std::string name, std::uint32_t expected_lines)
    : name_(std::move(name)),
      expected_(expected_lines),
      on_(StderrIsTerminal()),
      start_(std::chrono::steady_clock::now()) {}

std::string TransferLine::Text(const std::string& name, int lines, std::size_t bytes, double seconds,
                               std::uint32_t expected_lines) {
    std::string text = name + ": " + std::to_string(lines) + " lines, " + sizeText(static_cast<double>(bytes));
    if (seconds < 0.5 || lines <= 0) return text;
    text += ", " + sizeText(static_cast<double>(bytes) / seconds) + "/s";
    if (expected_lines > static_cast<std::uint32_t>(lines)) {
        const long left =
            static_cast<long>((expected_lines - static_cast<std::uint32_t>(lines)) * seconds / lines + 0.5);
        char eta[48];
        std::snprintf(eta, sizeof eta, ", about %ldm %02lds left", left / 60, left % 60);
        text += eta;
    }
    return text;
}

std::string TransferLine::Now(int lines, std::size_t bytes) const {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    return Text(name_, lines, bytes, seconds, expected_);
}

void TransferLine::Show(int lines, std::size_t bytes) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - shown_ < std::chrono::milliseconds(200)) return;
    shown_ = now;
    const std::string text = Now(lines, bytes);
    std::fprintf(stderr, "\r%s%s", text.c_str(),
                 std::string(width_ > text.size() ? width_ - text.size() : 0, ' ').c_str());
    std::fflush(stderr);
    width_ = std::max(width_, text.size());
}

void TransferLine::Clear() {
    if (!on_ || width_ == 0) return;
    std::fprintf(stderr, "\r%s\r", std::string(width_, ' ').c_str());
    std::fflush(stderr);
    width_ = 0;
}

ProgressBoard::ProgressBoard() : on_(StderrIsTerminal()), moves_(on_ && StderrMovesCursor()) {}

void ProgressBoard::Set(const std::string& key, const std::string& text) {
    const auto it = std::find_if(lines_.begin(), lines_.end(), [&](const auto& l) { return l.first == key; });
    if (it == lines_.end())
        lines_.emplace_back(key, text);
    else
        it->second = text;
    const auto now = std::chrono::steady_clock::now();
    if (now - shown_ < std::chrono::milliseconds(200)) return;
    shown_ = now;
    Draw();
}

void ProgressBoard::Remove(const std::string& key) {
    lines_.erase(std::remove_if(lines_.begin(), lines_.end(), [&](const auto& l) { return l.first == key; }),
                 lines_.end());
}

void ProgressBoard::Erase() {
    if (!on_ || drawn_ == 0) return;
    if (moves_)
        std::fprintf(stderr, "\x1b[%zuF\x1b[J", drawn_);  // up to the first line, and clear below
    else
        std::fprintf(stderr, "\r%s\r", std::string(drawn_, ' ').c_str());
    std::fflush(stderr);
    drawn_ = 0;
}

void ProgressBoard::Draw() {
    if (!on_) return;
    Erase();
    // A line longer than the terminal would wrap and leave a piece behind.
    constexpr std::size_t kWidth = 79;
    if (moves_) {
        for (const auto& [key, text] : lines_)
            std::fprintf(stderr, "%s\n", (key + "  " + text).substr(0, kWidth).c_str());
        drawn_ = lines_.size();
    } else if (!lines_.empty()) {
        const std::string line = (lines_.back().first + "  " + lines_.back().second).substr(0, kWidth);
        std::fprintf(stderr, "%s", line.c_str());
        drawn_ = line.size();
    }
    std::fflush(stderr);
}
