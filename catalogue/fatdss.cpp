#include "fatdss.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kCodeLength = 7;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kTicksPerDay = 86400ULL * kTicksPerSecond;

// The white space of the C locale, which is what a "%s" conversion stops at.
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One "%s" conversion over [*pos, end): skips white space, then takes the
// word up to the next white space. An exhausted line yields an empty word.
std::string next_word(const std::string& line, std::size_t end, std::size_t* pos) {
    std::size_t i = *pos;
    while (i < end && is_space(line[i])) {
        ++i;
    }
    const std::size_t first = i;
    while (i < end && !is_space(line[i])) {
        ++i;
    }
    *pos = i;
    return line.substr(first, i - first);
}

// Bits 4..0 hold seconds / 2; 30 and 31 (second 60 and 62) do not exist.
std::uint32_t correct_start_seconds(std::uint32_t value) {
    const std::uint32_t half_seconds = value & 0x1FU;
    return half_seconds >= 30 ? ((value & ~0x1FU) | 29U) : value;
}

// The stop end drops an impossible second to 00 of the same minute; the
// minute is not carried.
std::uint32_t correct_stop_seconds(std::uint32_t value) {
    const std::uint32_t half_seconds = value & 0x1FU;
    return half_seconds >= 30 ? (value & ~0x1FU) : value;
}

bool is_leap(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned days_in_month(unsigned year, unsigned month) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given Gregorian date (valid fields only).
std::uint64_t days_since_1601(unsigned year, unsigned month, unsigned day) {
    const std::uint64_t y = year - 1601;
    std::uint64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (unsigned m = 1; m < month; ++m) {
        days += days_in_month(year, m);
    }
    return days + (day - 1);
}

std::string format(const char* pattern, const fatdt_t& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, static_cast<int>(t.year), static_cast<int>(t.month),
                  static_cast<int>(t.day), static_cast<int>(t.hour), static_cast<int>(t.min), static_cast<int>(t.sec));
    return buffer;
}

}  // namespace

std::uint32_t code_value(const std::string& word) {
    std::uint32_t sum = 0;
    std::uint32_t weight = 1;
    for (std::size_t pos = kCodeLength; pos-- > 0;) {
        if (pos < word.size()) {
            // The character is a signed 8-bit value; a negative digit wraps
            // modulo 2^32 like everything else here.
            const int digit = static_cast<int>(static_cast<signed char>(word[pos])) - 'A';
            sum += static_cast<std::uint32_t>(digit) * weight;
        }
        weight *= 26U;
    }
    return sum;
}

std::string code_of(std::uint32_t value) {
    std::string code(kCodeLength, 'A');
    for (std::size_t pos = kCodeLength; pos-- > 0;) {
        code[pos] = static_cast<char>('A' + value % 26U);
        value /= 26U;
    }
    return code;
}

fatdt_t fatdt_of(std::uint32_t value) {
    fatdt_t t;
    t.year = static_cast<std::uint16_t>(1980U + (value >> 25));
    t.month = static_cast<std::uint8_t>((value >> 21) & 0x0FU);
    t.day = static_cast<std::uint8_t>((value >> 16) & 0x1FU);
    t.hour = static_cast<std::uint8_t>((value >> 11) & 0x1FU);
    t.min = static_cast<std::uint8_t>((value >> 5) & 0x3FU);
    t.sec = static_cast<std::uint8_t>(2U * (value & 0x1FU));
    return t;
}

bool fat_file_time(std::uint32_t value, std::uint64_t* ticks) {
    const fatdt_t t = fatdt_of(value);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > days_in_month(t.year, t.month) || t.hour > 23 ||
        t.min > 59 || t.sec > 59) {
        return false;
    }
    const std::uint64_t seconds = t.hour * 3600ULL + t.min * 60ULL + t.sec;
    *ticks = days_since_1601(t.year, t.month, t.day) * kTicksPerDay + seconds * kTicksPerSecond;
    return true;
}

bool is_log_name(const std::string& word) {
    return word.size() == 7 && std::all_of(word.begin(), word.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool is_log_line(const std::string& line) {
    std::size_t end = line.find('\0');
    if (end == std::string::npos) {
        end = line.size();
    }
    std::size_t pos = 0;
    const std::string start_code = next_word(line, end, &pos);
    const std::string stop_code = next_word(line, end, &pos);
    return is_log_name(start_code) && is_log_name(stop_code);
}

void xfnd(const std::string& line, fatdss_t* entry) {
    // The line is scanned as C text: a NUL byte ends it.
    std::size_t end = line.find('\0');
    if (end == std::string::npos) {
        end = line.size();
    }
    std::size_t pos = 0;
    std::string start_code = next_word(line, end, &pos);
    const std::string stop_code = next_word(line, end, &pos);

    const std::uint32_t start = correct_start_seconds(code_value(start_code));
    entry->start = fatdt_of(start);
    entry->name = std::move(start_code);
    std::uint64_t start_ticks = 0;
    const bool start_ok = fat_file_time(start, &start_ticks);

    const std::uint32_t stop = correct_stop_seconds(code_value(stop_code));
    entry->stop = fatdt_of(stop);
    std::uint64_t stop_ticks = 0;
    const bool stop_ok = fat_file_time(stop, &stop_ticks);

    entry->dur = 0;
    if (start_ok && stop_ok && stop_ticks >= start_ticks) {
        entry->dur = static_cast<std::uint32_t>((stop_ticks - start_ticks) / kTicksPerSecond);
    }
    entry->dur_h = entry->dur / 3600U;
    entry->dur_m = (entry->dur % 3600U) / 60U;
    entry->dur_s = entry->dur % 60U;
}

bool duration_known(const fatdss_t& entry) {
    std::uint64_t start = 0, stop = 0;
    const auto ticks = [](const fatdt_t& t, std::uint64_t* out) {
        return fat_file_time(dos_value(t.year, t.month, t.day, t.hour, t.min, t.sec), out);
    };
    return ticks(entry.start, &start) && ticks(entry.stop, &stop) && stop >= start;
}

std::string entry_text(const fatdt_t& t) { return format("%04d-%02d-%02d  %02d:%02d:%02d", t); }

std::string label_text(const fatdt_t& t) { return format("%04d-%02d-%02d %02d:%02d:%02d", t); }

std::string file_name(const fatdt_t& t) { return format("%04d_%02d_%02d_%02d_%02d_%02d.log", t); }

std::string iso_text(const fatdt_t& t) { return format("%04d-%02d-%02dT%02d:%02d:%02d", t); }

std::string duration_text(const fatdss_t& e) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%dh %dm %ds", static_cast<int>(e.dur_h), static_cast<int>(e.dur_m),
                  static_cast<int>(e.dur_s));
    return buffer;
}

std::uint32_t dos_value(int year, int month, int day, int hour, int min, int sec) {
    return (static_cast<std::uint32_t>(year - 1980) << 25) | (static_cast<std::uint32_t>(month) << 21) |
           (static_cast<std::uint32_t>(day) << 16) | (static_cast<std::uint32_t>(hour) << 11) |
           (static_cast<std::uint32_t>(min) << 5) | static_cast<std::uint32_t>(sec / 2);
}
