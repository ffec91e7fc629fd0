// A list of narrow strings, optionally kept sorted.
//
// Sorted, it keeps its lines in ascending order under a comparison that
// ignores the case of ASCII letters (bytes compared as unsigned otherwise),
// and a line that compares equal to one already present is not added.
// Not thread-safe: one thread at a time.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TStringList {
public:
    // Switching sorting on sorts the present lines (dropping duplicates).
    void SetSorted(bool sorted);

    void Clear() { lines_.clear(); }
    int Count() const { return static_cast<int>(lines_.size()); }
    // Throws std::out_of_range ("List index out of bounds (i)") for a bad index.
    const std::string& Get(int index) const;
    const std::string& operator[](int index) const { return Get(index); }

    // Adds a line; returns its index, or -1 when a sorted list already held it.
    int Add(const std::string& line);

    const std::vector<std::string>& Lines() const { return lines_; }
    // Hands the lines over, leaving the list empty.
    std::vector<std::string> Take() { return std::move(lines_); }

    // The comparison of a sorted list: <0, 0, >0.
    static int Compare(const std::string& a, const std::string& b);

private:
    std::vector<std::string> lines_;
    bool sorted_ = false;
};
