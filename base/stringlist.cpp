#include "stringlist.h"

#include <algorithm>
#include <stdexcept>

namespace {

// Letters fold to lower case, as the C library's case-blind comparisons do;
// so "_" and the other signs between "Z" and "a" sort before every letter.
unsigned char fold(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

}  // namespace

int TStringList::Compare(const std::string& a, const std::string& b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = fold(a[i]);
        const unsigned char y = fold(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) {
        const auto less = [](const std::string& a, const std::string& b) { return Compare(a, b) < 0; };
        const auto same = [](const std::string& a, const std::string& b) { return Compare(a, b) == 0; };
        // Stable, so of lines that compare equal the one added first stays.
        std::stable_sort(lines_.begin(), lines_.end(), less);
        lines_.erase(std::unique(lines_.begin(), lines_.end(), same), lines_.end());
    }
    sorted_ = sorted;
}

const std::string& TStringList::Get(int index) const {
    if (index < 0 || index >= Count()) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
    return lines_[static_cast<std::size_t>(index)];
}

int TStringList::Add(const std::string& line) {
    if (!sorted_) {
        lines_.push_back(line);
        return Count() - 1;
    }
    const auto at = std::lower_bound(lines_.begin(), lines_.end(), line,
                                     [](const std::string& a, const std::string& b) { return Compare(a, b) < 0; });
    if (at != lines_.end() && Compare(*at, line) == 0) {
        return -1;
    }
    const auto index = at - lines_.begin();
    lines_.insert(at, line);
    return static_cast<int>(index);
}
