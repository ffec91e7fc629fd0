// A log's lines packed into one buffer: their bytes one after the other and
// where each begins, about the log's bytes and 8 more a line.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Lines packed into one buffer. Made on any thread, then handed to the view
// whole; it never changes once shown.
class PackedLines {
public:
    PackedLines() = default;
    explicit PackedLines(const std::vector<std::string>& lines);
    // Room for `bytes` bytes of lines, and `lines` lines.
    void Reserve(std::size_t bytes, std::size_t lines);
    void Append(std::string_view line);
    // The lines of a .log file's bytes (logfile's ForEachLine), packed in
    // the same buffer: the line ends are taken out where they stand.
    static PackedLines FromFileText(QByteArray text);

    std::size_t size() const { return starts_.empty() ? 0 : starts_.size() - 1; }
    std::string_view operator[](std::size_t i) const {
        return std::string_view(bytes_.constData() + starts_[i], starts_[i + 1] - starts_[i]);
    }
    // The line with the most bytes (0 when there is none).
    std::size_t Longest() const { return longest_; }
    // The memory the lines take.
    std::size_t Footprint() const {
        return static_cast<std::size_t>(bytes_.capacity()) + starts_.capacity() * sizeof(std::size_t);
    }

private:
    QByteArray bytes_;
    std::vector<std::size_t> starts_;  // line i is [starts_[i], starts_[i + 1])
    std::size_t longest_ = 0;
};
