#include "fatdss.h"
#include "stringlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint32_t dos(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned min,
                  unsigned half_seconds)
{
    return ((year - 1980U) << 25) | (month << 21) | (day << 16) | (hour << 11) | (min << 5) |
           half_seconds;
}

std::string line_of(std::uint32_t start, std::uint32_t stop)
{
    return code_of(start) + " " + code_of(stop);
}

fatdss_t decode(const std::string& line)
{
    fatdss_t e;
    xfnd(line, &e);
    return e;
}

const std::string kNoDate = "1980-00-00 00:00:00";

}  // namespace

TEST(Decode, WorkedExampleAndItsTexts)
{
    fatdss_t e;
    e.file = "kept.log";
    e.name = "old";
    e.dur = e.dur_h = e.dur_m = e.dur_s = 12345;
    xfnd("EBQNYWG EBQOFQZ", &e);
    EXPECT_EQ(e.file, "kept.log");
    EXPECT_EQ(e.name, "EBQNYWG");
    EXPECT_EQ(e.dur, 8138U);
    EXPECT_EQ(duration_text(e), "2h 15m 38s");
    EXPECT_EQ(entry_text(e.start), "2017-06-15  10:30:20");
    EXPECT_EQ(label_text(e.start), "2017-06-15 10:30:20");
    EXPECT_EQ(label_text(e.stop), "2017-06-15 12:45:58");
    EXPECT_EQ(file_name(e.start), "2017_06_15_10_30_20.log");

    xfnd("AAAAAAA EBQOFQZ", &e);
    EXPECT_EQ(e.file, "kept.log");
    EXPECT_EQ(e.dur, 0U);
    EXPECT_EQ(duration_text(e), "0h 0m 0s");
    EXPECT_EQ(entry_text(e.start), "1980-00-00  00:00:00");
    EXPECT_EQ(file_name(e.start), "1980_00_00_00_00_00.log");
}

TEST(CodeValue, DigitsWeightsAndWrap)
{
    const struct {
        std::string code;
        std::uint32_t value;
    } cases[] = {
        {"AAAAAAA", 0U},
        {"AAAAAAB", 1U},
        {"AAAAABA", 26U},
        {"BAAAAAA", 308915776U},  // 26^6
        {"NXMRLXV", 0xFFFFFFFFU},
        {"NXMRLXW", 0U},
        {"NXMRLXX", 1U},
        {"ZZZZZZZ", 3736842879U},  // 26^7 - 1 less 2^32
        // Outside the alphabet the digit is the byte less 'A', unfolded and
        // wrapping: 'a' is 32, '0' is -17, a high byte is a negative char.
        {"aAAAAAA", 32U * 308915776U},
        {"AAAAA0A", static_cast<std::uint32_t>(-17 * 26)},
        {"AAAAAA\xFF", static_cast<std::uint32_t>(-66)},
        {"ebqnywg", 1255101386U + 32U * 321272407U},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(code_value(c.code), c.value) << c.code;
    }
    EXPECT_EQ(label_text(decode("ebqnywg ebqofqz").start), "2067-12-22 19:53:20");

    std::mt19937 rng(7);
    std::uniform_int_distribution<std::uint32_t> any;
    for (int i = 0; i < 20000; ++i) {
        const std::uint32_t v = i < 3 ? std::uint32_t(i) * 0x7FFFFFFFU : any(rng);
        const std::string code = code_of(v);
        ASSERT_EQ(code.size(), 7U);
        ASSERT_TRUE(std::all_of(code.begin(), code.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
        ASSERT_EQ(code_value(code), v) << code;
    }
}

TEST(Decode, SecondsCorrectionsAndDurations)
{
    const struct {
        std::uint32_t start, stop;
        std::string start_text, stop_text;
        std::uint32_t dur;
    } cases[] = {
        // Second 60 or 62 is 58 of the same minute at the start, 00 of the
        // same minute (no carry) at the stop; 58 itself is left alone.
        {dos(2017, 6, 15, 10, 30, 30), dos(2017, 6, 15, 10, 31, 5), "2017-06-15 10:30:58", "2017-06-15 10:31:10", 12},
        {dos(2017, 6, 15, 10, 30, 31), dos(2017, 6, 15, 10, 31, 5), "2017-06-15 10:30:58", "2017-06-15 10:31:10", 12},
        {dos(2017, 6, 15, 10, 29, 0), dos(2017, 6, 15, 10, 30, 30), "2017-06-15 10:29:00", "2017-06-15 10:30:00", 60},
        {dos(2017, 6, 15, 10, 29, 0), dos(2017, 6, 15, 10, 30, 31), "2017-06-15 10:29:00", "2017-06-15 10:30:00", 60},
        {dos(2017, 6, 15, 10, 30, 31), dos(2017, 6, 15, 10, 30, 31), "2017-06-15 10:30:58", "2017-06-15 10:30:00", 0},
        {dos(2017, 6, 15, 10, 30, 29), dos(2017, 6, 15, 10, 31, 29), "2017-06-15 10:30:58", "2017-06-15 10:31:58", 60},
        // Stop before start, and across a year end.
        {code_value("EBQOFQZ"), code_value("EBQNYWG"), "2017-06-15 12:45:58", "2017-06-15 10:30:20", 0},
        {dos(2019, 12, 31, 23, 59, 29), dos(2020, 1, 1, 0, 0, 1), "2019-12-31 23:59:58", "2020-01-01 00:00:02", 4},
        // The widest span the layout holds.
        {dos(1980, 1, 1, 0, 0, 0), dos(2107, 12, 31, 23, 59, 29), "1980-01-01 00:00:00", "2107-12-31 23:59:58",
         4039286398U},
        // Leap days: 2000 has one, 2100 has none, and its 29 February is
        // rejected, which gives no duration.
        {dos(2000, 2, 28, 12, 0, 0), dos(2000, 3, 1, 12, 0, 0), "2000-02-28 12:00:00", "2000-03-01 12:00:00", 172800},
        {dos(2100, 2, 28, 12, 0, 0), dos(2100, 3, 1, 12, 0, 0), "2100-02-28 12:00:00", "2100-03-01 12:00:00", 86400},
        {dos(2100, 2, 28, 12, 0, 0), dos(2100, 2, 29, 12, 0, 0), "2100-02-28 12:00:00", "2100-02-29 12:00:00", 0},
    };
    for (const auto& c : cases) {
        const fatdss_t e = decode(line_of(c.start, c.stop));
        EXPECT_EQ(label_text(e.start), c.start_text) << e.name;
        EXPECT_EQ(label_text(e.stop), c.stop_text) << e.name;
        EXPECT_EQ(e.dur, c.dur) << e.name;
        EXPECT_EQ(e.dur_h * 3600U + e.dur_m * 60U + e.dur_s, e.dur) << e.name;
    }
    EXPECT_EQ(duration_text(decode(line_of(dos(2020, 1, 1, 0, 0, 0), dos(2020, 1, 2, 2, 3, 2)))), "26h 3m 4s");
}

TEST(FileTime, AbsolutePointsLeapDaysAndRejectedDates)
{
    const struct {
        std::uint32_t value;
        std::uint64_t ticks;
    } points[] = {
        {dos(1980, 1, 1, 0, 0, 0), 119600064000000000ULL},  {dos(2000, 1, 1, 0, 0, 0), 125911584000000000ULL},
        {code_value("EBQNYWG"), 131419962200000000ULL},     {dos(2107, 12, 31, 23, 59, 29), 159992927980000000ULL},
        {dos(1980, 2, 29, 12, 0, 0), 119651472000000000ULL},
    };
    std::uint64_t t = 0;
    for (const auto& p : points) {
        ASSERT_TRUE(fat_file_time(p.value, &t)) << label_text(fatdt_of(p.value));
        EXPECT_EQ(t, p.ticks) << label_text(fatdt_of(p.value));
    }
    for (std::uint32_t v : {dos(2000, 2, 29, 0, 0, 0), dos(2024, 2, 29, 0, 0, 0), dos(2017, 6, 30, 23, 59, 29),
                            dos(2017, 1, 31, 0, 0, 0)}) {
        EXPECT_TRUE(fat_file_time(v, &t)) << label_text(fatdt_of(v));
    }

    // A rejected date is still shown as it reads, but gives no duration at
    // either end.
    const std::uint32_t good = dos(2017, 6, 15, 10, 30, 10);
    for (std::uint32_t v : {dos(2017, 0, 15, 10, 30, 10), dos(2017, 13, 15, 10, 30, 10), dos(2017, 6, 0, 10, 30, 10),
                            dos(2017, 4, 31, 10, 30, 10), dos(2019, 2, 29, 0, 0, 0), dos(2000, 2, 30, 0, 0, 0),
                            dos(2100, 2, 29, 0, 0, 0), dos(2017, 6, 15, 24, 30, 10), dos(2017, 6, 15, 10, 60, 10)}) {
        EXPECT_FALSE(fat_file_time(v, &t)) << label_text(fatdt_of(v));
        const fatdss_t as_start = decode(line_of(v, good));
        const fatdss_t as_stop = decode(line_of(good, v));
        EXPECT_EQ(label_text(as_start.start), label_text(fatdt_of(v)));
        EXPECT_EQ(label_text(as_stop.stop), label_text(fatdt_of(v)));
        EXPECT_EQ(as_start.dur + as_stop.dur, 0U) << label_text(fatdt_of(v));
    }
}

TEST(Split, WhiteSpaceAndShortLongMissingWords)
{
    const std::string example_stop = "2017-06-15 12:45:58";
    const struct {
        std::string line, name, stop;
        std::uint32_t dur;
    } cases[] = {
        {"  EBQNYWG EBQOFQZ", "EBQNYWG", example_stop, 8138},
        {"\t\r\n\v\fEBQNYWG\t \tEBQOFQZ", "EBQNYWG", example_stop, 8138},
        {"EBQNYWG EBQOFQZ trailing words 123", "EBQNYWG", example_stop, 8138},
        {"EBQNYWG    EBQOFQZ\r", "EBQNYWG", example_stop, 8138},
        // Only seven characters count, but the name is the whole word.
        {"EBQNYWGXYZ EBQOFQZQQQQ", "EBQNYWGXYZ", example_stop, 8138},
        {"", "", kNoDate, 0},
        {"   ", "", kNoDate, 0},
        {"\r\n", "", kNoDate, 0},
        {"EBQNYWG", "EBQNYWG", kNoDate, 0},
        // A NUL byte ends the line as it ends C text.
        {std::string("EBQNYWG\0EBQOFQZ", 15), "EBQNYWG", kNoDate, 0},
        {std::string("EBQ\0NYWG EBQOFQZ", 16), "EBQ", kNoDate, 0},
    };
    for (const auto& c : cases) {
        const fatdss_t e = decode(c.line);
        EXPECT_EQ(e.name, c.name) << c.line;
        EXPECT_EQ(label_text(e.stop), c.stop) << c.line;
        EXPECT_EQ(e.dur, c.dur) << c.line;
    }
    // Missing characters count as "A".
    const fatdss_t short_words = decode("EBQNY EBQOF");
    const fatdss_t padded = decode("EBQNYAA EBQOFAA");
    EXPECT_EQ(short_words.name, "EBQNY");
    EXPECT_EQ(label_text(short_words.start), label_text(padded.start));
    EXPECT_EQ(label_text(short_words.stop), label_text(padded.stop));
    EXPECT_EQ(short_words.dur, padded.dur);
}

TEST(Decode, ArbitraryBytes)
{
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> kind(0, 3);
    const std::string spaces = " \t\r\n\v\f";
    for (int i = 0; i < 20000; ++i) {
        std::string line(static_cast<std::size_t>(length(rng)), '\0');
        const int k = kind(rng);
        for (char& c : line) {
            int b = byte(rng);
            if (k == 1 && (b == 0 || spaces.find(static_cast<char>(b)) != std::string::npos)) {
                b = 'Q';  // no white space, no NUL: one long word
            } else if (k == 2 && b % 7 == 0) {
                b = spaces[static_cast<std::size_t>(b) % spaces.size()];
            } else if (k == 3) {
                b = 'A' + b % 26;
            }
            c = static_cast<char>(b);
        }
        fatdss_t e;
        e.file = "untouched";
        xfnd(line, &e);
        ASSERT_EQ(e.file, "untouched");
        ASSERT_EQ(e.dur_h * 3600U + e.dur_m * 60U + e.dur_s, e.dur);
        ASSERT_LT(e.dur_m, 60U);
        ASSERT_LT(e.dur_s, 60U);
        ASSERT_LE(e.start.sec, 58U);
        ASSERT_LE(e.stop.sec, 58U);
        ASSERT_EQ(e.name.find_first_of(spaces + std::string(1, '\0')), std::string::npos);
        ASSERT_NE(line.find(e.name), std::string::npos);
        ASSERT_EQ(label_text(e.start), label_text(fatdt_of(code_value(e.name))).substr(0, 17) +
                                           label_text(e.start).substr(17));
        if (k == 1 && !line.empty()) {
            ASSERT_EQ(e.name, line);
            ASSERT_EQ(e.dur, 0U);  // the stop is AAAAAAA, never a valid date
        }
        ASSERT_EQ(label_text(e.stop).size(), 19U);
    }
}

// Sorting the listing as text (case-insensitively, duplicates dropped)
// puts the logs in the order they were recorded.
TEST(Order, SortedListOrderIsChronologicalOrder)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<unsigned> year(1980, 2107), month(1, 12), day(1, 28), hour(0, 23),
        min(0, 57), half(0, 31);
    std::vector<std::string> lines;
    for (int i = 0; i < 3000; ++i) {
        const std::uint32_t start = dos(year(rng), month(rng), day(rng), hour(rng), min(rng), half(rng));
        lines.push_back(line_of(start, start + (2U << 5)));  // two minutes later
    }
    std::vector<std::string> distinct = lines;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    // The same line again, and once more in lower case: neither is added.
    lines.push_back(lines[0]);
    std::string lowered = lines[1];
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    lines.push_back(lowered);

    TStringList list;
    list.SetSorted(true);
    for (const std::string& line : lines) {
        list.Add(line);
    }
    ASSERT_EQ(list.Count(), static_cast<int>(distinct.size()));
    std::uint64_t previous = 0;
    for (int i = 0; i < list.Count(); ++i) {
        std::uint32_t code = code_value(decode(list[i]).name);
        if ((code & 0x1FU) >= 30U) {
            code = (code & ~0x1FU) | 29U;
        }
        std::uint64_t ticks = 0;
        ASSERT_TRUE(fat_file_time(code, &ticks)) << list[i];
        ASSERT_GE(ticks, previous) << list[i];
        previous = ticks;
    }
}

// What a device may put into its listing besides logs: only lines whose
// first two words are seven capital letters each name a log.
TEST(LogLine, OnlyTwoSevenLetterCodesMakeALog)
{
    const struct {
        const char* line;
        std::size_t size;
        bool log;
    } cases[] = {
        {"JAMXZDE JAMXZHS", 15, true},
        {"  JAMXZDE\tJAMXZHS  trailing words", 34, true},
        {"JAMXZDE JAMXZHS\0junk", 20, true},
        {"", 0, false},
        {"OK", 2, false},
        {"FS ERROR 17", 11, false},
        {"JAMXZDE", 7, false},
        {"JAMXZDE JAMXZH", 14, false},
        {"JAMXZDE JAMXZHSS", 16, false},
        {"jamxzde jamxzhs", 15, false},
        {"JAMXZD[ JAMXZHS", 15, false},
        {"JAMX\0DE JAMXZHS", 15, false},
        {"<h1>BIG</h1> ESINAHC", 20, false},
        {"\xC4" "AMXZDE JAMXZHS", 15, false},
    };
    for (const auto& c : cases) {
        const std::string line(c.line, c.size);
        EXPECT_EQ(is_log_line(line), c.log) << testing::PrintToString(line);
    }
}
