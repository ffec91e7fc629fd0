// The simulator's logs: sample logs and logs read from a folder, with their
// start and stop codes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "fatdss.h"
#include "simulator.h"

namespace krx3sim {
namespace {

// ---- DOS date-time arithmetic (proleptic Gregorian, no time zone) ----

struct DateTime {
    int year, month, day, hour, min, sec;
};

DateTime from_dos(std::uint32_t v) {
    return DateTime{1980 + static_cast<int>(v >> 25),      static_cast<int>((v >> 21) & 0xF),
                    static_cast<int>((v >> 16) & 0x1F),    static_cast<int>((v >> 11) & 0x1F),
                    static_cast<int>((v >> 5) & 0x3F),     static_cast<int>((v & 0x1F) * 2)};
}

std::uint32_t to_dos(const DateTime& t) { return dos_value(t.year, t.month, t.day, t.hour, t.min, t.sec); }

long long days_from_civil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

long long seconds_of(const DateTime& t) {
    return days_from_civil(t.year, t.month, t.day) * 86400LL + t.hour * 3600 + t.min * 60 + t.sec;
}

DateTime from_seconds(long long s) {
    long long z = s / 86400;
    long long rem = s % 86400;
    if (rem < 0) {
        rem += 86400;
        --z;
    }
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
    return DateTime{y, m, d, static_cast<int>(rem / 3600), static_cast<int>(rem / 60 % 60), static_cast<int>(rem % 60)};
}

std::string stamp(const DateTime& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.min, t.sec);
    return buf;
}

// One plausible record of a logger with three channels, deterministic in k.
std::string sample_line(const DateTime& t, long long k) {
    char buf[96];
    const long long a = 1234 + (k * 37) % 250;
    const long long b = 330 - (k * 11) % 60;
    const long long c = 215 + (k * 7) % 40;
    std::snprintf(buf, sizeof buf, ";ch1=%lld.%02lld;ch2=%lld.%02lld;ch3=%lld.%lld", a / 100, a % 100, b / 100, b % 100,
                  c / 10, c % 10);
    return stamp(t) + buf;
}

constexpr int kSampleStep = 10;  // seconds between two records of a sample log

bool parse_stamp(const std::string& s, DateTime* t) {
    int y, mo, d, h, mi, se;
    char sep;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &se) != 7) return false;
    if (y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return false;
    *t = DateTime{y, mo, d, h, mi, se};
    return true;
}

bool parse_file_name(const std::string& name, DateTime* t) {
    int y, mo, d, h, mi, se;
    int used = 0;
    if (std::sscanf(name.c_str(), "%4d_%2d_%2d_%2d_%2d_%2d.log%n", &y, &mo, &d, &h, &mi, &se, &used) != 6) return false;
    if (static_cast<std::size_t>(used) != name.size()) return false;
    if (y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return false;
    *t = DateTime{y, mo, d, h, mi, se};
    return true;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::vector<Log> SampleLogs(int count, int lines, std::uint32_t first_start) {
    std::vector<Log> logs;
    long long start = seconds_of(from_dos(first_start));
    start -= start % 2;  // DOS times have two-second steps
    for (int i = 0; i < count; ++i) {
        Log log;
        const long long stop = start + static_cast<long long>(lines > 0 ? lines - 1 : 0) * kSampleStep;
        log.start_code = code_of(to_dos(from_seconds(start)));
        log.stop_code = code_of(to_dos(from_seconds(stop)));
        log.lines.reserve(static_cast<std::size_t>(lines > 0 ? lines : 0));
        for (int k = 0; k < lines; ++k)
            log.lines.push_back(sample_line(from_seconds(start + static_cast<long long>(k) * kSampleStep), k));
        logs.push_back(std::move(log));
        // The next log begins a day and some hours later.
        start = stop + 26 * 3600 + 17 * 60 + 4;
    }
    return logs;
}

std::string SampleRecord(long long k) {
    const DateTime base = from_dos(0x4ACF53CA);
    return sample_line(from_seconds(seconds_of(base) + k * kSampleStep), k);
}

std::vector<Log> LogsFromFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (ends_with(name, ".log")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());

    std::vector<Log> logs;
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        Log log;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            log.lines.push_back(line);
        }

        DateTime start;
        if (!parse_file_name(name, &start)) {
            std::error_code mec;
            const auto written = std::filesystem::last_write_time(path, mec);
            if (mec) continue;
            // The file clock has no conversion in C++17: go through now().
            const auto sys = std::chrono::system_clock::now() +
                             std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                 written - std::filesystem::file_time_type::clock::now());
            const std::time_t mtime = std::chrono::system_clock::to_time_t(sys);
            const std::tm tm = *std::localtime(&mtime);
            start = DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
            if (start.year < 1980) start = DateTime{1980, 1, 1, 0, 0, 0};
        }
        // The stop is the time of the last record when it carries one.
        DateTime stop;
        if (log.lines.empty() || !parse_stamp(log.lines.back(), &stop) || seconds_of(stop) < seconds_of(start))
            stop = from_seconds(seconds_of(start) + static_cast<long long>(log.lines.size()) * kSampleStep);
        log.start_code = code_of(to_dos(start));
        log.stop_code = code_of(to_dos(stop));
        logs.push_back(std::move(log));
    }
    return logs;
}

}  // namespace krx3sim
