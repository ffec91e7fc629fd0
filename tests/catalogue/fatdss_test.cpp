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

void expect_time(const fatdt_t& t, unsigned year, unsigned month, unsigned day, unsigned hour,
                 unsigned min, unsigned sec)
{
    EXPECT_EQ(t.year, year);
    EXPECT_EQ(t.month, month);
    EXPECT_EQ(t.day, day);
    EXPECT_EQ(t.hour, hour);
    EXPECT_EQ(t.min, min);
    EXPECT_EQ(t.sec, sec);
}

}  // namespace

TEST(Decode, WorkedExampleAndItsTexts)
{
    fatdss_t e = decode("EBQNYWG EBQOFQZ");
    expect_time(e.start, 2017, 6, 15, 10, 30, 20);
    expect_time(e.stop, 2017, 6, 15, 12, 45, 58);
    EXPECT_EQ(e.name, "EBQNYWG");
    EXPECT_EQ(e.file, "");
    EXPECT_EQ(e.dur, 8138U);
    EXPECT_EQ(e.dur_h, 2U);
    EXPECT_EQ(e.dur_m, 15U);
    EXPECT_EQ(e.dur_s, 38U);

    EXPECT_EQ(entry_text(e.start), "2017-06-15  10:30:20");
    EXPECT_EQ(label_text(e.start), "2017-06-15 10:30:20");
    EXPECT_EQ(label_text(e.stop), "2017-06-15 12:45:58");
    EXPECT_EQ(file_name(e.start), "2017_06_15_10_30_20.log");
    EXPECT_EQ(duration_text(e), "2h 15m 38s");
}

TEST(Decode, LeavesFileAloneAndOverwritesTheRest)
{
    fatdss_t e;
    e.file = "kept.log";
    e.name = "old";
    e.dur = e.dur_h = e.dur_m = e.dur_s = 12345;
    xfnd("AAAAAAA AAAAAAA", &e);
    EXPECT_EQ(e.file, "kept.log");
    EXPECT_EQ(e.name, "AAAAAAA");
    EXPECT_EQ(e.dur, 0U);
    EXPECT_EQ(e.dur_h, 0U);
    EXPECT_EQ(e.dur_m, 0U);
    EXPECT_EQ(e.dur_s, 0U);
}

TEST(CodeValue, DigitsWeightsAndWrap)
{
    EXPECT_EQ(code_value("AAAAAAA"), 0U);
    EXPECT_EQ(code_value("AAAAAAB"), 1U);
    EXPECT_EQ(code_value("AAAAABA"), 26U);
    EXPECT_EQ(code_value("BAAAAAA"), 308915776U);  // 26^6
    EXPECT_EQ(code_value("NXMRLXV"), 0xFFFFFFFFU);
    EXPECT_EQ(code_value("NXMRLXW"), 0U);
    EXPECT_EQ(code_value("NXMRLXX"), 1U);
    // 26^7 - 1 = 8031810175, less 2^32.
    EXPECT_EQ(code_value("ZZZZZZZ"), 3736842879U);
    EXPECT_EQ(code_of(0xFFFFFFFFU), "NXMRLXV");
    EXPECT_EQ(code_of(0), "AAAAAAA");
}

TEST(CodeValue, CharactersOutsideTheAlphabetGiveOutOfRangeDigits)
{
    // 'a' is 97: digit 32.
    EXPECT_EQ(code_value("aAAAAAA"), 32U * 308915776U);
    EXPECT_EQ(code_value("AAAAAAz"), 57U);
    // '0' is 48: digit -17, which wraps.
    EXPECT_EQ(code_value("AAAAAA0"), 0xFFFFFFFFU - 16U);
    EXPECT_EQ(code_value("AAAAA0A"), static_cast<std::uint32_t>(-17 * 26));
    // A high byte is a negative signed char: 0xFF is -1, digit -66.
    EXPECT_EQ(code_value(std::string("AAAAAA\xFF")), static_cast<std::uint32_t>(-66));
    EXPECT_EQ(code_value(std::string("AAAAAA\x80")), static_cast<std::uint32_t>(-128 - 65));

    // Lower case is not folded: the date moves far away, and decoding goes on.
    const fatdss_t upper = decode("EBQNYWG EBQOFQZ");
    const fatdss_t lower = decode("ebqnywg ebqofqz");
    EXPECT_EQ(lower.name, "ebqnywg");
    // Every digit is 32 higher: EBQNYWG's value plus 32 x (26^6 + ... + 1).
    EXPECT_EQ(code_value("ebqnywg"), 1255101386U + 32U * 321272407U);
    EXPECT_EQ(label_text(lower.start), "2067-12-22 19:53:20");
    EXPECT_NE(label_text(lower.start), label_text(upper.start));
}

TEST(CodeValue, RoundTrip)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::uint32_t> any;
    for (int i = 0; i < 20000; ++i) {
        const std::uint32_t v = i < 3 ? std::uint32_t(i) * 0x7FFFFFFFU : any(rng);
        const std::string code = code_of(v);
        ASSERT_EQ(code.size(), 7U);
        ASSERT_TRUE(std::all_of(code.begin(), code.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
        ASSERT_EQ(code_value(code), v) << code;
        ASSERT_LE(code, "NXMRLXV");
    }
}

TEST(Decode, SecondsCorrections)
{
    // Start: second 60 or 62 becomes 58 of the same minute.
    for (unsigned half : {30U, 31U}) {
        const fatdss_t e = decode(line_of(dos(2017, 6, 15, 10, 30, half), dos(2017, 6, 15, 10, 31, 5)));
        expect_time(e.start, 2017, 6, 15, 10, 30, 58);
        EXPECT_EQ(e.dur, 12U) << half;
    }
    // Stop: they become 00 of the same minute, without carry.
    for (unsigned half : {30U, 31U}) {
        const fatdss_t e = decode(line_of(dos(2017, 6, 15, 10, 29, 0), dos(2017, 6, 15, 10, 30, half)));
        expect_time(e.stop, 2017, 6, 15, 10, 30, 0);
        EXPECT_EQ(e.dur, 60U) << half;
    }
    // The same code at both ends: the stop, corrected to 00, ends up before
    // the start, corrected to 58.
    const fatdss_t same = decode(line_of(dos(2017, 6, 15, 10, 30, 31), dos(2017, 6, 15, 10, 30, 31)));
    EXPECT_EQ(same.start.sec, 58U);
    EXPECT_EQ(same.stop.sec, 0U);
    EXPECT_EQ(same.dur, 0U);
    // 29 itself is left alone at both ends.
    const fatdss_t edge = decode(line_of(dos(2017, 6, 15, 10, 30, 29), dos(2017, 6, 15, 10, 31, 29)));
    EXPECT_EQ(edge.start.sec, 58U);
    EXPECT_EQ(edge.stop.sec, 58U);
    EXPECT_EQ(edge.dur, 60U);
}

TEST(Decode, Durations)
{
    const fatdss_t equal = decode("EBQNYWG EBQNYWG");
    EXPECT_EQ(equal.dur, 0U);
    EXPECT_EQ(duration_text(equal), "0h 0m 0s");

    const fatdss_t long_run = decode(line_of(dos(2020, 1, 1, 0, 0, 0), dos(2020, 1, 2, 2, 3, 2)));
    EXPECT_EQ(long_run.dur, 26U * 3600U + 3U * 60U + 4U);
    EXPECT_EQ(duration_text(long_run), "26h 3m 4s");

    // Across months and a year end.
    const fatdss_t new_year = decode(line_of(dos(2019, 12, 31, 23, 59, 29), dos(2020, 1, 1, 0, 0, 1)));
    EXPECT_EQ(new_year.dur, 4U);

    // The widest span the layout holds.
    const fatdss_t widest = decode(line_of(dos(1980, 1, 1, 0, 0, 0), dos(2107, 12, 31, 23, 59, 29)));
    EXPECT_EQ(widest.dur, (159992927980000000ULL - 119600064000000000ULL) / 10000000ULL);
    EXPECT_EQ(widest.dur_h * 3600U + widest.dur_m * 60U + widest.dur_s, widest.dur);
}

TEST(Decode, StopBeforeStartGivesNoDuration)
{
    const fatdss_t e = decode("EBQOFQZ EBQNYWG");
    expect_time(e.start, 2017, 6, 15, 12, 45, 58);
    expect_time(e.stop, 2017, 6, 15, 10, 30, 20);
    EXPECT_EQ(e.dur, 0U);
    EXPECT_EQ(duration_text(e), "0h 0m 0s");
}

TEST(FileTime, AbsolutePointsInTime)
{
    std::uint64_t t = 0;
    ASSERT_TRUE(fat_file_time(dos(1980, 1, 1, 0, 0, 0), &t));
    EXPECT_EQ(t, 119600064000000000ULL);
    ASSERT_TRUE(fat_file_time(dos(2000, 1, 1, 0, 0, 0), &t));
    EXPECT_EQ(t, 125911584000000000ULL);
    ASSERT_TRUE(fat_file_time(code_value("EBQNYWG"), &t));
    EXPECT_EQ(t, 131419962200000000ULL);
    ASSERT_TRUE(fat_file_time(dos(2107, 12, 31, 23, 59, 29), &t));
    EXPECT_EQ(t, 159992927980000000ULL);
    ASSERT_TRUE(fat_file_time(dos(1980, 2, 29, 12, 0, 0), &t));
    EXPECT_EQ(t, 119651472000000000ULL);
}

TEST(FileTime, LeapDays)
{
    std::uint64_t t = 0;
    EXPECT_TRUE(fat_file_time(dos(1980, 2, 29, 0, 0, 0), &t));
    EXPECT_TRUE(fat_file_time(dos(2000, 2, 29, 0, 0, 0), &t));
    EXPECT_TRUE(fat_file_time(dos(2024, 2, 29, 0, 0, 0), &t));
    EXPECT_FALSE(fat_file_time(dos(2100, 2, 29, 0, 0, 0), &t));
    EXPECT_FALSE(fat_file_time(dos(2019, 2, 29, 0, 0, 0), &t));
    EXPECT_FALSE(fat_file_time(dos(2000, 2, 30, 0, 0, 0), &t));

    EXPECT_EQ(decode(line_of(dos(2000, 2, 28, 12, 0, 0), dos(2000, 3, 1, 12, 0, 0))).dur, 2U * 86400U);
    EXPECT_EQ(decode(line_of(dos(2100, 2, 28, 12, 0, 0), dos(2100, 3, 1, 12, 0, 0))).dur, 86400U);
    EXPECT_EQ(decode(line_of(dos(2100, 2, 28, 12, 0, 0), dos(2100, 2, 29, 12, 0, 0))).dur, 0U);
}

TEST(FileTime, RejectedFieldsLeaveTheFieldsButNoDuration)
{
    const std::uint32_t good = dos(2017, 6, 15, 10, 30, 10);
    const std::uint32_t bad[] = {
        dos(2017, 0, 15, 10, 30, 10),  dos(2017, 13, 15, 10, 30, 10), dos(2017, 15, 15, 10, 30, 10),
        dos(2017, 6, 0, 10, 30, 10),   dos(2017, 4, 31, 10, 30, 10),  dos(2017, 2, 29, 0, 0, 0),
        dos(2017, 6, 15, 24, 30, 10),  dos(2017, 6, 15, 31, 30, 10),  dos(2017, 6, 15, 10, 60, 10),
        dos(2017, 6, 15, 10, 63, 10),
    };
    std::uint64_t t = 0;
    for (std::uint32_t v : bad) {
        EXPECT_FALSE(fat_file_time(v, &t)) << label_text(fatdt_of(v));
        const fatdss_t as_start = decode(line_of(v, good));
        EXPECT_EQ(label_text(as_start.start), label_text(fatdt_of(v)));
        EXPECT_EQ(as_start.dur, 0U);
        const fatdss_t as_stop = decode(line_of(good, v));
        EXPECT_EQ(label_text(as_stop.stop), label_text(fatdt_of(v)));
        EXPECT_EQ(as_stop.dur, 0U);
    }
    EXPECT_TRUE(fat_file_time(dos(2017, 6, 30, 23, 59, 29), &t));
    EXPECT_TRUE(fat_file_time(dos(2017, 1, 31, 0, 0, 0), &t));

    const fatdss_t zero = decode("AAAAAAA EBQOFQZ");
    expect_time(zero.start, 1980, 0, 0, 0, 0, 0);
    EXPECT_EQ(label_text(zero.start), "1980-00-00 00:00:00");
    EXPECT_EQ(entry_text(zero.start), "1980-00-00  00:00:00");
    EXPECT_EQ(file_name(zero.start), "1980_00_00_00_00_00.log");
    EXPECT_EQ(zero.dur, 0U);
}

TEST(Split, WhiteSpaceAndExtraWords)
{
    const std::string lines[] = {
        "  EBQNYWG EBQOFQZ",
        "\t\r\n\v\fEBQNYWG\t \tEBQOFQZ",
        "EBQNYWG EBQOFQZ trailing words 123",
        "EBQNYWG    EBQOFQZ\r",
    };
    for (const std::string& line : lines) {
        const fatdss_t e = decode(line);
        EXPECT_EQ(e.name, "EBQNYWG");
        EXPECT_EQ(label_text(e.stop), "2017-06-15 12:45:58");
        EXPECT_EQ(e.dur, 8138U);
    }
}

TEST(Split, ShortLongMissingWords)
{
    // Missing characters count as "A".
    const fatdss_t short_words = decode("EBQNY EBQOF");
    EXPECT_EQ(short_words.name, "EBQNY");
    EXPECT_EQ(label_text(short_words.start), label_text(decode("EBQNYAA EBQOFAA").start));
    EXPECT_EQ(short_words.dur, decode("EBQNYAA EBQOFAA").dur);

    // Only seven characters count, but the name is the whole word.
    const fatdss_t long_words = decode("EBQNYWGXYZ EBQOFQZQQQQ");
    EXPECT_EQ(long_words.name, "EBQNYWGXYZ");
    EXPECT_EQ(long_words.dur, 8138U);

    for (const std::string line : {"", "   ", "\r\n"}) {
        const fatdss_t empty = decode(line);
        EXPECT_EQ(empty.name, "");
        EXPECT_EQ(label_text(empty.start), "1980-00-00 00:00:00");
        EXPECT_EQ(label_text(empty.stop), "1980-00-00 00:00:00");
        EXPECT_EQ(empty.dur, 0U);
    }

    const fatdss_t one = decode("EBQNYWG");
    EXPECT_EQ(one.name, "EBQNYWG");
    EXPECT_EQ(label_text(one.start), "2017-06-15 10:30:20");
    EXPECT_EQ(label_text(one.stop), "1980-00-00 00:00:00");
    EXPECT_EQ(one.dur, 0U);

    // A NUL byte ends the line as it ends C text.
    const fatdss_t nul = decode(std::string("EBQNYWG\0EBQOFQZ", 15));
    EXPECT_EQ(nul.name, "EBQNYWG");
    EXPECT_EQ(label_text(nul.stop), "1980-00-00 00:00:00");
    const fatdss_t nul_in_word = decode(std::string("EBQ\0NYWG EBQOFQZ", 16));
    EXPECT_EQ(nul_in_word.name, "EBQ");
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
        ASSERT_EQ(e.dur % 2U, 0U);
        ASSERT_LE(e.start.sec, 58U);
        ASSERT_LE(e.stop.sec, 58U);
        ASSERT_LE(e.name.size(), line.size());
        ASSERT_EQ(e.name.find_first_of(spaces + std::string(1, '\0')), std::string::npos);
        ASSERT_NE(line.find(e.name), std::string::npos);
        const fatdt_t from_name = fatdt_of(code_value(e.name));
        ASSERT_EQ(e.start.year, from_name.year);
        ASSERT_EQ(e.start.hour, from_name.hour);
        if (k == 1 && !line.empty()) {
            ASSERT_EQ(e.name, line);
            ASSERT_EQ(e.dur, 0U);  // the stop is AAAAAAA, never a valid date
        }
        ASSERT_EQ(duration_text(e), std::to_string(e.dur_h) + "h " + std::to_string(e.dur_m) + "m " +
                                        std::to_string(e.dur_s) + "s");
        ASSERT_EQ(label_text(e.stop).size(), 19U);
    }
}

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
    std::vector<std::string> distinct(lines.begin(), lines.begin() + 3000);
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    ASSERT_EQ(list.Count(), static_cast<int>(distinct.size()));

    std::uint64_t previous = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const fatdss_t e = decode(list[i]);
        std::uint32_t code = code_value(e.name);
        if ((code & 0x1FU) >= 30U) {
            code = (code & ~0x1FU) | 29U;
        }
        std::uint64_t ticks = 0;
        ASSERT_TRUE(fat_file_time(code, &ticks)) << list[i];
        ASSERT_GE(ticks, previous) << list[i];
        EXPECT_EQ(e.dur, e.start.sec == 58 && e.stop.sec == 0 ? 62U : 120U) << list[i];
        previous = ticks;
    }
}
