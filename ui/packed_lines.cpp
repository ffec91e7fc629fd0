#include "packed_lines.h"

PackedLines::PackedLines(const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const std::string& line : lines) total += line.size();
    Reserve(total, lines.size());
    for (const std::string& line : lines) Append(line);
}

void PackedLines::Reserve(std::size_t bytes, std::size_t lines) {
    bytes_.reserve(bytes);
    starts_.reserve(lines + 1);
}

void PackedLines::Append(std::string_view line) {
    if (starts_.empty()) starts_.push_back(0);
    bytes_ += line;
    starts_.push_back(bytes_.size());
    if (line.size() > (*this)[longest_].size()) longest_ = size() - 1;
}
