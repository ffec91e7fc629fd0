#include "fatdss.h"
#include "stringlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

// A DOS date-time value written out field by field (the last is seconds / 2).
std::uint32_t dos(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned min, unsigned half_seconds) {
    return ((year - 1980U) << 25) | (month << 21) | (day << 16) | (hour << 11) | (min << 5) | half_seconds;
}

std::string line_of(std::uint32_t start, std::uint32_t stop) { return code_of(start) + " " + code_of(stop); }

fatdss_t decode(const std::string& line) {
    fatdss_t e;
    e.file = "kept.log";
    xfnd(line, &e);
    return e;
}

}  // namespace

// The worked example: EBQNYWG is 1255101386 = 0x4ACF53CA, 2017-06-15
// 10:30:20; EBQOFQZ is 12:45:58, 2 h 15 min 38 s = 8138 s later.
TEST(Decode, WorkedExampleAndItsTexts) {
    const fatdss_t e = decode("EBQNYWG EBQOFQZ");
    EXPECT_EQ(e.file, "kept.log");
    EXPECT_EQ(e.name, "EBQNYWG");
    EXPECT_EQ(e.dur, 8138U);
    EXPECT_EQ(duration_text(e), "2h 15m 38s");
    EXPECT_EQ(entry_text(e.start), "2017-06-15  10:30:20");
    EXPECT_EQ(label_text(e.stop), "2017-06-15 12:45:58");
    EXPECT_EQ(file_name(e.start), "2017_06_15_10_30_20.log");
    const fatdss_t zero = decode("AAAAAAA EBQOFQZ");
    EXPECT_EQ(duration_text(zero), "0h 0m 0s");
    EXPECT_EQ(file_name(zero.start), "1980_00_00_00_00_00.log");
}

TEST(CodeValue, DigitsWeightsAndWrap) {
    const struct {
        std::string code;
        std::uint32_t value;
    } cases[] = {
        {"AAAAAAB", 1U},
        {"AAAAABA", 26U},
        {"BAAAAAA", 308915776U},  // 26^6
        {"NXMRLXV", 0xFFFFFFFFU},
        {"NXMRLXW", 0U},
        {"ZZZZZZZ", 3736842879U},  // 26^7 - 1 less 2^32
        // Outside the alphabet the digit is the byte less 'A', unfolded and
        // wrapping; missing characters count as "A".
        {"aAAAAAA", 32U * 308915776U},
        {"AAAAA0A", static_cast<std::uint32_t>(-17 * 26)},
        {"AAAAAA\xFF", static_cast<std::uint32_t>(-66)},
        {"EBQNY", code_value("EBQNYAA")},
    };
    for (const auto& c : cases) EXPECT_EQ(code_value(c.code), c.value) << c.code;
    for (std::uint32_t v : {0U, 1U, 0x4ACF53CAU, 0x7FFFFFFFU, 0xFFFFFFFFU}) {
        EXPECT_EQ(code_value(code_of(v)), v);
        EXPECT_TRUE(is_log_name(code_of(v))) << code_of(v);
    }
}

// Worked examples of second 60/62 (half-seconds 30/31): 58 of the same
// minute at the start, 00 of the same minute (no carry) at the stop; leap
// days and rejected dates, which give no duration.
TEST(Decode, SecondsCorrectionsAndDurations) {
    const struct {
        std::uint32_t start, stop;
        std::string start_text, stop_text;
        std::uint32_t dur;
    } cases[] = {
        {dos(2017, 6, 15, 10, 30, 30), dos(2017, 6, 15, 10, 31, 5), "2017-06-15 10:30:58", "2017-06-15 10:31:10", 12},
        {dos(2017, 6, 15, 10, 29, 0), dos(2017, 6, 15, 10, 30, 31), "2017-06-15 10:29:00", "2017-06-15 10:30:00", 60},
        {dos(2017, 6, 15, 10, 30, 29), dos(2017, 6, 15, 10, 31, 29), "2017-06-15 10:30:58", "2017-06-15 10:31:58", 60},
        {code_value("EBQOFQZ"), code_value("EBQNYWG"), "2017-06-15 12:45:58", "2017-06-15 10:30:20", 0},
        {dos(2019, 12, 31, 23, 59, 29), dos(2020, 1, 1, 0, 0, 1), "2019-12-31 23:59:58", "2020-01-01 00:00:02", 4},
        {dos(1980, 1, 1, 0, 0, 0), dos(2107, 12, 31, 23, 59, 29), "1980-01-01 00:00:00", "2107-12-31 23:59:58",
         4039286398U},
        {dos(2000, 2, 28, 12, 0, 0), dos(2000, 3, 1, 12, 0, 0), "2000-02-28 12:00:00", "2000-03-01 12:00:00", 172800},
        {dos(2100, 2, 28, 12, 0, 0), dos(2100, 3, 1, 12, 0, 0), "2100-02-28 12:00:00", "2100-03-01 12:00:00", 86400},
        {dos(2100, 2, 28, 12, 0, 0), dos(2100, 2, 29, 12, 0, 0), "2100-02-28 12:00:00", "2100-02-29 12:00:00", 0},
        {dos(2017, 4, 31, 1, 0, 0), dos(2017, 6, 15, 24, 0, 0), "2017-04-31 01:00:00", "2017-06-15 24:00:00", 0},
        {dos(2017, 6, 15, 10, 60, 0), dos(2017, 13, 1, 0, 0, 0), "2017-06-15 10:60:00", "2017-13-01 00:00:00", 0},
    };
    for (const auto& c : cases) {
        const fatdss_t e = decode(line_of(c.start, c.stop));
        EXPECT_EQ(label_text(e.start), c.start_text) << e.name;
        EXPECT_EQ(label_text(e.stop), c.stop_text) << e.name;
        EXPECT_EQ(e.dur, c.dur) << e.name;
    }
    EXPECT_EQ(duration_text(decode(line_of(dos(2020, 1, 1, 0, 0, 0), dos(2020, 1, 2, 2, 3, 2)))), "26h 3m 4s");
    // 100-ns ticks since 1601: 1980-01-01 is 138,426 days on, 2000-01-01 145,731.
    std::uint64_t t = 0;
    ASSERT_TRUE(fat_file_time(dos(1980, 1, 1, 0, 0, 0), &t));
    EXPECT_EQ(t, 138426ULL * 864000000000ULL);
    ASSERT_TRUE(fat_file_time(dos(2000, 1, 1, 0, 0, 1), &t));
    EXPECT_EQ(t, 145731ULL * 864000000000ULL + 20000000ULL);
}

TEST(Split, WhiteSpaceAndShortLongMissingWords) {
    const struct {
        std::string line, name, stop;
    } cases[] = {
        {"\t\r\n\v\f EBQNYWG\t \tEBQOFQZ trailing words", "EBQNYWG", "2017-06-15 12:45:58"},
        // Only seven characters count, but the name is the whole word.
        {"EBQNYWGXYZ EBQOFQZQQQQ", "EBQNYWGXYZ", "2017-06-15 12:45:58"},
        {"   ", "", "1980-00-00 00:00:00"},
        {"EBQNYWG", "EBQNYWG", "1980-00-00 00:00:00"},
        // A NUL byte ends the line as it ends C text.
        {std::string("EBQNYWG\0EBQOFQZ", 15), "EBQNYWG", "1980-00-00 00:00:00"},
    };
    for (const auto& c : cases) {
        const fatdss_t e = decode(c.line);
        EXPECT_EQ(e.name, c.name) << c.line;
        EXPECT_EQ(label_text(e.stop), c.stop) << c.line;
    }
}

// Sorting the listing as text (case-insensitively, duplicates dropped)
// puts the logs in the order they were recorded. Starts are drawn with
// valid seconds, so each reads as its own point in time.
TEST(Order, SortedListOrderIsChronologicalOrder) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<unsigned> year(1980, 2107), month(1, 12), day(1, 28), hour(0, 23), min(0, 57),
        half(0, 29);
    std::vector<std::string> lines;
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t start = dos(year(rng), month(rng), day(rng), hour(rng), min(rng), half(rng));
        lines.push_back(line_of(start, start + (2U << 5)));  // two minutes later
    }
    std::vector<std::string> distinct = lines;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    // The same line again, and once more in lower case: neither is added.
    lines.push_back(lines[0]);
    std::string lowered = lines[1];
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](char c) { return static_cast<char>(c | 0x20); });
    lines.push_back(lowered);
    TStringList list;
    list.SetSorted(true);
    for (const std::string& line : lines) list.Add(line);
    ASSERT_EQ(list.Count(), static_cast<int>(distinct.size()));
    std::uint64_t previous = 0, ticks = 0;
    for (int i = 0; i < list.Count(); ++i) {
        ASSERT_TRUE(fat_file_time(code_value(decode(list[i]).name), &ticks)) << list[i];
        ASSERT_GE(ticks, previous) << list[i];
        previous = ticks;
    }
}

// Only lines whose first two words are seven capital letters each name a log.
TEST(LogLine, OnlyTwoSevenLetterCodesMakeALog) {
    const struct {
        std::string line;
        bool log;
    } cases[] = {
        {"  JAMXZDE\tJAMXZHS  trailing words", true},
        {std::string("JAMXZDE JAMXZHS\0junk", 20), true},
        {"", false},
        {"OK", false},
        {"JAMXZDE", false},
        {"JAMXZDE JAMXZH", false},
        {"JAMXZDE JAMXZHSS", false},
        {"jamxzde jamxzhs", false},
        {"JAMXZD[ JAMXZHS", false},
        {std::string("JAMX\0DE JAMXZHS", 15), false},
        {"\xC4"
         "AMXZDE JAMXZHS",
         false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_log_line(c.line), c.log) << testing::PrintToString(c.line);
}
