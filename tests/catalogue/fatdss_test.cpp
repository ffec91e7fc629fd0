#include "catalogue/fatdss.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

namespace {

// A DOS date-time value written out field by field (the last is seconds / 2).
std::uint32_t dos(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned min, unsigned half_seconds) {
    return ((year - 1980U) << 25) | (month << 21) | (day << 16) | (hour << 11) | (min << 5) | half_seconds;
}

fatdss_t decode(const std::string& line) {
    fatdss_t e;
    xfnd(line, &e);
    return e;
}

}  // namespace

// The worked example: EBQNYWG is 1255101386 = 0x4ACF53CA, 2017-06-15
// 10:30:20; EBQOFQZ is 12:45:58, 2 h 15 min 38 s = 8138 s later. Second
// 60/62 (half-seconds 30/31) reads as 58 of the same minute at the start
// and as 00 of the same minute (no carry) at the stop. A date that does not
// exist, or a stop before the start, gives no duration.
TEST(Decode, DatesSecondsCorrectionsAndDurations) {
    EXPECT_EQ(entry_text(decode("EBQNYWG EBQOFQZ").start), "2017-06-15  10:30:20");
    // Start, stop, and their times of day with the duration.
    const std::tuple<std::uint32_t, std::uint32_t, std::string> cases[] = {
        {code_value("EBQNYWG"), code_value("EBQOFQZ"), "10:30:20 12:45:58 2h 15m 38s"},
        {code_value("EBQOFQZ"), code_value("EBQNYWG"), "12:45:58 10:30:20 0h 0m 0s"},
        {dos(2017, 6, 15, 10, 30, 30), dos(2017, 6, 15, 10, 31, 5), "10:30:58 10:31:10 0h 0m 12s"},
        {dos(2017, 6, 15, 10, 29, 31), dos(2017, 6, 15, 10, 30, 31), "10:29:58 10:30:00 0h 0m 2s"},
        {dos(1980, 1, 1, 0, 0, 0), dos(2107, 12, 31, 23, 59, 29), "00:00:00 23:59:58 1122023h 59m 58s"},
        {dos(2000, 2, 28, 12, 0, 0), dos(2000, 3, 1, 12, 0, 0), "12:00:00 12:00:00 48h 0m 0s"},
        {dos(2100, 2, 28, 12, 0, 0), dos(2100, 2, 29, 12, 0, 0), "12:00:00 12:00:00 0h 0m 0s"},
        {dos(2017, 4, 31, 1, 0, 0), dos(2017, 6, 15, 12, 0, 0), "01:00:00 12:00:00 0h 0m 0s"},
        {dos(2017, 6, 15, 10, 0, 0), dos(2017, 6, 15, 24, 0, 0), "10:00:00 24:00:00 0h 0m 0s"},
        {dos(2017, 6, 15, 10, 0, 0), dos(2017, 6, 15, 10, 60, 0), "10:00:00 10:60:00 0h 0m 0s"},
    };
    for (const auto& [start, stop, text] : cases) {
        const fatdss_t d = decode(code_of(start) + " " + code_of(stop));
        EXPECT_EQ(label_text(d.start).substr(11) + " " + label_text(d.stop).substr(11) + " " + duration_text(d), text);
    }
}

// Only lines whose first two words are seven capital letters each name a
// log. The line splits as "%s %s" splits C text; the name is the whole
// first word, and a missing stop reads as 1980-00-00 00:00:00.
TEST(LogLine, SplitLikeCTextAndOnlyTwoSevenLetterCodesMakeALog) {
    const std::string none = "1980-00-00 00:00:00", worked = "2017-06-15 12:45:58";
    // The line, whether it is a log, its name and its stop ("": not checked).
    const std::tuple<std::string, bool, std::string, std::string> cases[] = {
        {"\t\r\n\v\f EBQNYWG\t \tEBQOFQZ trailing words", true, "EBQNYWG", worked},
        {"EBQNYWGXYZ EBQOFQZQQQQ", false, "EBQNYWGXYZ", worked},
        {std::string("EBQNYWG\0EBQOFQZ", 15), false, "EBQNYWG", none},
        {"EBQNYWG EBQOFQ", false, "EBQNYWG", "2017-06-15 12:45:08"},  // missing characters count as "A"
        {"EBQNYWG NXMRLXW", true, "EBQNYWG", none},                   // 2^32: a code wraps to 0
        {"ebqnywg ebqofqz", false, "ebqnywg", ""},
        {"EBQNYW[ EBQOFQZ", false, "EBQNYW[", worked},
        {"\xC4KRXLG EBQOFQZ", false, "\xC4KRXLG", worked},
    };
    for (const auto& [line, log, name, stop] : cases) {
        const fatdss_t e = decode(line);
        EXPECT_EQ(is_log_line(line), log) << testing::PrintToString(line);
        EXPECT_EQ(e.name + " " + (stop.empty() ? "" : label_text(e.stop)), name + " " + stop);
    }
}
