#include "packed_lines.h"

#include <cstring>
#include <utility>

#include "logfile/logfile.h"

PackedLines::PackedLines(const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const std::string& line : lines) total += line.size();
    Reserve(total, lines.size());
    for (const std::string& line : lines) Append(line);
}

void PackedLines::Reserve(std::size_t bytes, std::size_t lines) {
    bytes_.reserve(static_cast<qsizetype>(bytes));
    starts_.reserve(lines + 1);
}

void PackedLines::Append(std::string_view line) {
    if (starts_.empty()) starts_.push_back(0);
    bytes_.append(line.data(), static_cast<qsizetype>(line.size()));
    starts_.push_back(static_cast<std::size_t>(bytes_.size()));
    if (line.size() > (*this)[longest_].size()) longest_ = size() - 1;
}

PackedLines PackedLines::FromFileText(QByteArray text) {
    PackedLines p;
    p.starts_.push_back(0);
    char* out = text.data();
    std::size_t at = 0, longest = 0;
    ForEachLine(text, [&](qsizetype from, qsizetype size) {
        // A line never moves forward: what is before it is shorter by its line ends.
        std::memmove(out + at, out + from, static_cast<std::size_t>(size));
        at += static_cast<std::size_t>(size);
        p.starts_.push_back(at);
        if (static_cast<std::size_t>(size) > longest) {
            longest = static_cast<std::size_t>(size);
            p.longest_ = p.size() - 1;
        }
    });
    text.truncate(static_cast<qsizetype>(at));
    p.bytes_ = std::move(text);
    return p;
}
