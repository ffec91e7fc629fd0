// The device's reply bytes: the framing into lines, which lines of a listing
// are logs, and the dates their codes decode to.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/fatdss.h"
#include "fuzz_check.h"
#include "link/exchange.h"

namespace {

// A listing line is a log exactly when its first two words, as C text would
// split them, are seven capital letters each.
bool IsLogLineByHand(const std::string& line) {
    std::istringstream words(line.substr(0, line.find('\0')));
    std::string first, second;
    const auto code = [](const std::string& w) {
        return w.size() == 7 && std::all_of(w.begin(), w.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    };
    return words >> first >> second && code(first) && code(second);
}

// A DOS date and time that names a real moment of the calendar.
bool ValidByHand(const fatdt_t& t) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12 || t.day < 1) return false;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const int last = days[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    return t.day <= last && t.hour <= 23 && t.min <= 59 && t.sec <= 59;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Framing: a line feed is dropped, a carriage return ends a line, every
    // other byte stays, in order.
    std::vector<std::string> lines;
    std::string partial, expected;
    for (std::size_t i = 0; i < size; ++i) {
        if (Frame(data[i], &partial) == Framed::LineEnd) {
            lines.push_back(partial);
            partial.clear();
        }
        if (data[i] != 0x0A) expected.push_back(static_cast<char>(data[i]));
    }
    std::string joined;
    for (const std::string& l : lines) {
        FUZZ_CHECK(l.find('\r') == std::string::npos && l.find('\n') == std::string::npos);
        joined += l + "\r";
    }
    FUZZ_CHECK(joined + partial == expected);

    for (const std::string& line : lines) {
        const bool log = is_log_line(line);
        FUZZ_CHECK(log == IsLogLineByHand(line));
        if (!log) continue;
        fatdss_t e;
        xfnd(line, &e);
        FUZZ_CHECK(is_log_name(e.name));
        FUZZ_CHECK(e.dur == e.dur_h * 3600 + e.dur_m * 60 + e.dur_s && e.dur_m < 60 && e.dur_s < 60);
    }
    // Every 32-bit value is a valid date and time, or refused as one.
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        std::uint32_t v = 0;
        std::memcpy(&v, data + i, 4);
        std::uint64_t ticks = 0;
        FUZZ_CHECK(fat_file_time(v, &ticks) == ValidByHand(fatdt_of(v)));
    }
    return 0;
}
