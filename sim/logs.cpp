// The simulator's logs: sample logs and logs read from a folder, with their
// start and stop codes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "catalogue/fatdss.h"
#include "simulator.h"

namespace krx3sim {
namespace {

// Dates are DOS date-time values; the catalogue splits, formats and counts
// them. Only the step back from seconds to a date is the simulator's own.

// Seconds since 1601-01-01 of a DOS value; 0 for one that is no valid date.
long long seconds_of(std::uint32_t dos) {
    std::uint64_t ticks = 0;
    fat_file_time(dos, &ticks);
    return static_cast<long long>(ticks / 10000000ULL);
}

// The DOS value of a point in seconds since 1601-01-01 (the second rounded
// down to an even one).
std::uint32_t dos_of_seconds(long long s) {
    long long z = s / 86400 - 134774;  // days since 1970-01-01
    const long long rem = s % 86400;
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
    return dos_value(y, m, d, static_cast<int>(rem / 3600), static_cast<int>(rem / 60 % 60),
                     static_cast<int>(rem % 60));
}

// One plausible record of a logger with three channels, deterministic in k.
std::string sample_line(std::uint32_t dos, long long k) {
    char buf[96];
    const long long a = 1234 + (k * 37) % 250;
    const long long b = 330 - (k * 11) % 60;
    const long long c = 215 + (k * 7) % 40;
    std::snprintf(buf, sizeof buf, ";ch1=%lld.%02lld;ch2=%lld.%02lld;ch3=%lld.%lld", a / 100, a % 100, b / 100, b % 100,
                  c / 10, c % 10);
    return label_text(fatdt_of(dos)) + buf;
}

// Seconds between two records of a sample log: a real logger writes one
// record about every 2 s, and an upload expects that many lines.
constexpr int kSampleStep = 2;

bool parse_stamp(const std::string& s, std::uint32_t* dos) {
    int y, mo, d, h, mi, se;
    char sep;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &se) != 7) return false;
    if (y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return false;
    *dos = dos_value(y, mo, d, h, mi, se);
    return true;
}

bool parse_file_name(const std::string& name, std::uint32_t* dos) {
    int y, mo, d, h, mi, se;
    int used = 0;
    if (std::sscanf(name.c_str(), "%4d_%2d_%2d_%2d_%2d_%2d.log%n", &y, &mo, &d, &h, &mi, &se, &used) != 6) return false;
    if (static_cast<std::size_t>(used) != name.size()) return false;
    if (y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return false;
    *dos = dos_value(y, mo, d, h, mi, se);
    return true;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::vector<Log> SampleLogs(int count, int lines, std::uint32_t first_start) {
    std::vector<Log> logs;
    long long start = seconds_of(first_start);
    for (int i = 0; i < count; ++i) {
        Log log;
        const long long stop = start + static_cast<long long>(lines > 0 ? lines - 1 : 0) * kSampleStep;
        log.start_code = code_of(dos_of_seconds(start));
        log.stop_code = code_of(dos_of_seconds(stop));
        log.lines.reserve(static_cast<std::size_t>(lines > 0 ? lines : 0));
        for (int k = 0; k < lines; ++k)
            log.lines.push_back(sample_line(dos_of_seconds(start + static_cast<long long>(k) * kSampleStep), k));
        logs.push_back(std::move(log));
        // The next log begins a day and some hours later.
        start = stop + 26 * 3600 + 17 * 60 + 4;
    }
    return logs;
}

std::string SampleRecord(long long k) {
    return sample_line(dos_of_seconds(seconds_of(0x4ACF53CA) + k * kSampleStep), k);
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

        std::uint32_t start = 0;
        if (!parse_file_name(name, &start)) {
            std::error_code mec;
            const auto written = std::filesystem::last_write_time(path, mec);
            if (mec) continue;
            // The file clock has no conversion in C++17: go through now().
            const auto sys =
                std::chrono::system_clock::now() + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                                       written - std::filesystem::file_time_type::clock::now());
            const std::time_t mtime = std::chrono::system_clock::to_time_t(sys);
            const std::tm tm = *std::localtime(&mtime);
            start = tm.tm_year + 1900 < 1980
                        ? dos_value(1980, 1, 1, 0, 0, 0)
                        : dos_value(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        }
        // The stop is the time of the last record when it carries one.
        std::uint32_t stop = 0;
        if (log.lines.empty() || !parse_stamp(log.lines.back(), &stop) || seconds_of(stop) < seconds_of(start))
            stop = dos_of_seconds(seconds_of(start) +
                                  static_cast<long long>(log.lines.empty() ? 0 : log.lines.size() - 1) * kSampleStep);
        log.start_code = code_of(start);
        log.stop_code = code_of(stop);
        logs.push_back(std::move(log));
    }
    return logs;
}

}  // namespace krx3sim
