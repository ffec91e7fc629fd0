// The columns found in a log's lines, and their reduction to pixel columns.
#include "plot/columns.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulator.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Numbers(const std::vector<double>& v) {
    std::ostringstream s;
    s.precision(12);
    for (double d : v) s << ' ' << d;
    return s.str();
}

// The columns found in `text`: the time's kind (D: a date and time, N: a
// leading number, L: the line's index) and name, the times, each column
// with its values, and the lines skipped (if any).
std::string Parse(const std::vector<std::string>& text) {
    const plot::Columns c = plot::ParseColumns(std::vector<std::string_view>(text.begin(), text.end()));
    EXPECT_EQ(c.time.size() + c.skipped + c.blank + c.header, text.size()) << "a line is not accounted for";
    std::string s = "DNL"[static_cast<int>(c.time_kind)] + c.time_name + Numbers(c.time);
    for (const plot::Series& series : c.series) s += " | " + series.name + ":" + Numbers(series.values);
    return c.skipped ? s + " | skipped " + std::to_string(c.skipped) : s;
}

// Each span: its pixel column, then the first, least, greatest and last value.
std::string Spans(const std::vector<plot::PixelSpan>& spans) {
    std::string s;
    for (const plot::PixelSpan& p : spans)
        s += "[" + std::to_string(p.x) + "]" + Numbers({p.first, p.min, p.max, p.last});
    return s;
}

}  // namespace

// Each kind of log: its time axis, its columns' names and values, and the
// lines it could not read. 1612168200 is 2021-02-01 08:30:00, 1497522620
// 2017-06-15 10:30:20 (the simulator's first log).
TEST(Columns, FindsTimeColumnsAndSkippedLines) {
    // The lines and the columns found in them.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        // The simulator's records.
        {krx3sim::SampleLogs(1, 3)[0].lines,
         "D 1497522620 1497522622 1497522624 | ch1: 12.34 12.71 13.08 | ch2: 3.3 3.19 3.08 | ch3: 21.5 22.2 22.9"},
        // ';' after a date.
        {{"2021-02-01 08:30:00;1.5;-2", "2021-02-01 08:30:02;1.25;3e2"},
         "D 1612168200 1612168202 | column 2: 1.5 1.25 | column 3: -2 300"},
        // ',' after an ISO date.
        {{"2021-02-01T08:30:00,1.5,2", "2021-02-01T08:31:00.5,2.5,3"},
         "D 1612168200 1612168260.5 | column 2: 1.5 2.5 | column 3: 2 3"},
        // Tabs after the log box's date, decimal commas.
        {{"2021-02-01  08:30:00\t1,5\t2", "2021-02-02  08:30:00\t+2,5\t3"},
         "D 1612168200 1612254600 | column 2: 1.5 2.5 | column 3: 2 3"},
        // name=value after a leading number; plain values after one.
        {{"0.5;a=1;b=2", "1;b=4;a=3", "1.5; a = 5 ;b=6"}, "N 0.5 1 1.5 | a: 1 3 5 | b: 2 4 6"},
        {{"0,10,20", "1,11,21", "2,12,22"}, "N 0 1 2 | column 2: 10 11 12 | column 3: 20 21 22"},
        // No time: name=value; a first value that falls is no time.
        {{"a=1;b=2", "a=3;b=4"}, "L 0 1 | a: 1 3 | b: 2 4"},
        {{"5;1", "3;2"}, "L 0 1 | column 1: 5 3 | column 2: 1 2"},
        // Junk, blank lines and a date without values.
        {{"OK", "2021-02-01 08:30:00;ch1=1", "FS ERROR 17", "", "2021-02-01 08:30:02;ch1=2", "2021-02-01 08:30:04;",
          "2021-02-31 08:30:06;ch1=3", "2021-02-01 08:30:08;ch1=x"},
         "D 1612168200 1612168202 | ch1: 1 2 | skipped 5"},
        // A header naming the time and the columns; one without a time.
        {{"time,temp,volt", "0,20.5,3.3", "1,20.6,3.2"}, "Ntime 0 1 | temp: 20.5 20.6 | volt: 3.3 3.2"},
        {{"temp;volt", "20.5;3.3", "20.4;3.1"}, "L 1 2 | temp: 20.5 20.4 | volt: 3.3 3.1"},
        // A line with fewer fields, a column that starts late, a text column.
        {{"0;1;2", "1;3", "2;5;6;state=OK", "3;7;8;9"},
         "N 0 1 2 3 | column 2: 1 3 5 7 | column 3: 2 nan 6 8 | column 4: nan nan nan 9"},
    };
    for (const auto& [lines, found] : cases) EXPECT_EQ(Parse(lines), found) << testing::PrintToString(lines);
}

// Dates that do not exist, or that run on into other text, are no time.
TEST(Columns, RejectsDatesThatAreNot) {
    double t = 0;
    std::size_t used = 0;
    for (const char* text : {"2021-02-29 08:00:00", "2021-13-01 08:00:00", "2021-02-01 24:00:00", "2021-02-01 08:60:00",
                             "2021-02-01 08:00:60", "2021-02-01 08:00:001", "2021-02-01   08:00:00",
                             "2021/02/01 08:00:00", "2021-02-01 8:00:00", "2021-02-01 08:00:00:00"})
        EXPECT_FALSE(plot::ParseDateTime(text, &t, &used)) << text;
    ASSERT_TRUE(plot::ParseDateTime("2024-02-29 23:59:59.25;x", &t, &used));
    EXPECT_DOUBLE_EQ(t, 1709251199.25);
    EXPECT_EQ(used, 22u);
}

// Ten pixel columns over 0..100: each keeps the least and the greatest value
// of its ten points, and the first and last of them; the points outside the
// range (far beyond every other value) and a NaN leave no trace.
TEST(Decimate, KeepsMinAndMaxPerPixelColumnWithinTheRange) {
    std::vector<double> time{-1, 100.5, 55}, values{1e9, -1e9, kNaN};
    std::vector<plot::PixelSpan> want;
    for (int t = 0; t < 100; ++t) {
        const int d = t % 10;
        time.push_back(t);
        values.push_back(d == 3 ? 1000 + t : d == 7 ? -1000 - t : d == 0 ? 5 : d == 9 ? -5 : 0);
        if (d == 0) want.push_back({t / 10, -1007.0 - t, 1003.0 + t, 5, -5});
    }
    EXPECT_EQ(Spans(plot::Decimate(time, values, 0, 100, 10)), Spans(want));
    // 4 to 6 on two columns (6 falls into the last): only the zeros between
    // 1003 and -1007.
    EXPECT_EQ(Spans(plot::Decimate(time, values, 4, 6, 2)), "[0] 0 0 0 0[1] 0 0 0 0");
    // Out of the order of time, a column met twice keeps its first, least,
    // greatest and last of both visits.
    EXPECT_EQ(Spans(plot::Decimate({0, 50, 1, 51, 2}, {2, 8, 1, 9, 3}, 0, 100, 2)), "[0] 2 1 3 3[1] 8 8 9 9");
    // No span of time, no pixel column, or no point in the range: nothing.
    EXPECT_TRUE(plot::Decimate(time, values, 5, 5, 10).empty() && plot::Decimate(time, values, 0, 100, 0).empty() &&
                plot::Decimate(time, values, 200, 300, 10).empty());
}
