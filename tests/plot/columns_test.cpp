// The columns found in a log's lines, and their reduction to pixel columns.
#include "plot/columns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulator.h"

namespace {

using plot::TimeKind;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// 2021-02-01 08:30:00 and 2017-06-15 10:30:20 (the simulator's first log) in
// seconds since 1970-01-01.
constexpr double kAt = 1612168200;
constexpr double kSimStart = 1497522620;

plot::Columns Parse(const std::vector<std::string>& text) {
    const std::vector<std::string_view> lines(text.begin(), text.end());
    return plot::ParseColumns(lines);
}

// Equal numbers, NaN equal to NaN.
::testing::AssertionResult Same(const std::vector<double>& got, const std::vector<double>& want) {
    bool same = got.size() == want.size();
    for (std::size_t i = 0; same && i < got.size(); ++i)
        same = (std::isnan(got[i]) && std::isnan(want[i])) || std::abs(got[i] - want[i]) < 1e-9;
    if (same) return ::testing::AssertionSuccess();
    auto text = [](const std::vector<double>& v) {
        std::string s;
        for (double d : v) s += std::to_string(d) + " ";
        return s;
    };
    return ::testing::AssertionFailure() << "got " << text(got) << "\nwant " << text(want);
}

}  // namespace

// Each kind of log: its time axis, its columns' names and values, and the
// lines it could not read.
TEST(Columns, FindsTimeColumnsAndSkippedLines) {
    const krx3sim::Log sim = krx3sim::SampleLogs(1, 3)[0];
    const struct {
        const char* what;
        std::vector<std::string> lines;
        TimeKind kind;
        std::vector<double> time;
        std::vector<std::string> names;
        std::vector<std::vector<double>> values;
        std::size_t skipped;
    } cases[] = {
        {"the simulator's records",
         sim.lines,
         TimeKind::kDateTime,
         {kSimStart, kSimStart + 2, kSimStart + 4},
         {"ch1", "ch2", "ch3"},
         {{12.34, 12.71, 13.08}, {3.30, 3.19, 3.08}, {21.5, 22.2, 22.9}},
         0},
        {"';' after a date",
         {"2021-02-01 08:30:00;1.5;-2", "2021-02-01 08:30:02;1.25;3e2"},
         TimeKind::kDateTime,
         {kAt, kAt + 2},
         {"column 2", "column 3"},
         {{1.5, 1.25}, {-2, 300}},
         0},
        {"',' after an ISO date",
         {"2021-02-01T08:30:00,1.5,2", "2021-02-01T08:31:00.5,2.5,3"},
         TimeKind::kDateTime,
         {kAt, kAt + 60.5},
         {"column 2", "column 3"},
         {{1.5, 2.5}, {2, 3}},
         0},
        {"tabs after the log box's date, decimal commas",
         {"2021-02-01  08:30:00\t1,5\t2", "2021-02-02  08:30:00\t+2,5\t3"},
         TimeKind::kDateTime,
         {kAt, kAt + 86400},
         {"column 2", "column 3"},
         {{1.5, 2.5}, {2, 3}},
         0},
        {"name=value after a leading number",
         {"0.5;a=1;b=2", "1;b=4;a=3", "1.5; a = 5 ;b=6"},
         TimeKind::kNumber,
         {0.5, 1, 1.5},
         {"a", "b"},
         {{1, 3, 5}, {2, 4, 6}},
         0},
        {"plain values after a leading number",
         {"0,10,20", "1,11,21", "2,12,22"},
         TimeKind::kNumber,
         {0, 1, 2},
         {"column 2", "column 3"},
         {{10, 11, 12}, {20, 21, 22}},
         0},
        {"no time: name=value", {"a=1;b=2", "a=3;b=4"}, TimeKind::kLineIndex, {0, 1}, {"a", "b"}, {{1, 3}, {2, 4}}, 0},
        {"no time: a first value that falls is no time",
         {"5;1", "3;2"},
         TimeKind::kLineIndex,
         {0, 1},
         {"column 1", "column 2"},
         {{5, 3}, {1, 2}},
         0},
        {"junk, blank lines and a date without values",
         {"OK", "2021-02-01 08:30:00;ch1=1", "FS ERROR 17", "", "2021-02-01 08:30:02;ch1=2", "2021-02-01 08:30:04;",
          "2021-02-31 08:30:06;ch1=3", "2021-02-01 08:30:08;ch1=x"},
         TimeKind::kDateTime,
         {kAt, kAt + 2},
         {"ch1"},
         {{1, 2}},
         5},
        {"a header naming the time and the columns",
         {"time,temp,volt", "0,20.5,3.3", "1,20.6,3.2"},
         TimeKind::kNumber,
         {0, 1},
         {"temp", "volt"},
         {{20.5, 20.6}, {3.3, 3.2}},
         0},
        {"a header without a time",
         {"temp;volt", "20.5;3.3", "20.4;3.1"},
         TimeKind::kLineIndex,
         {1, 2},
         {"temp", "volt"},
         {{20.5, 20.4}, {3.3, 3.1}},
         0},
        {"a line with fewer fields, a column that starts late, a text column",
         {"0;1;2", "1;3", "2;5;6;state=OK", "3;7;8;9"},
         TimeKind::kNumber,
         {0, 1, 2, 3},
         {"column 2", "column 3", "column 4"},
         {{1, 3, 5, 7}, {2, kNaN, 6, 8}, {kNaN, kNaN, kNaN, 9}},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const plot::Columns got = Parse(c.lines);
        EXPECT_EQ(got.time_kind, c.kind);
        EXPECT_TRUE(Same(got.time, c.time));
        std::vector<std::string> names;
        for (const plot::Series& s : got.series) names.push_back(s.name);
        ASSERT_EQ(names, c.names);
        for (std::size_t s = 0; s < c.values.size(); ++s) EXPECT_TRUE(Same(got.series[s].values, c.values[s])) << s;
        EXPECT_EQ(got.skipped, c.skipped);
        EXPECT_EQ(got.time.size() + got.skipped + got.blank + got.header, c.lines.size());
    }
    EXPECT_EQ(Parse({"time,temp,volt", "0,20.5,3.3"}).time_name, "time");
}

// Dates that do not exist, or that run on into other text, are no time.
TEST(Columns, RejectsDatesThatAreNot) {
    for (const char* text : {"2021-02-29 08:00:00", "2021-13-01 08:00:00", "2021-02-01 24:00:00", "2021-02-01 08:60:00",
                             "2021-02-01 08:00:60", "2021-02-01 08:00:001", "2021-02-01   08:00:00",
                             "2021/02/01 08:00:00", "2021-02-01 8:00:00", "2021-02-01 08:00:00:00"}) {
        double t = 0;
        std::size_t used = 0;
        EXPECT_FALSE(plot::ParseDateTime(text, &t, &used)) << text;
    }
    double t = 0;
    std::size_t used = 0;
    ASSERT_TRUE(plot::ParseDateTime("2024-02-29 23:59:59.25;x", &t, &used));
    EXPECT_DOUBLE_EQ(t, 1709251199.25);
    EXPECT_EQ(used, 22u);
}

// Ten pixel columns over 0..100: each keeps the least and the greatest value
// of its ten points, and the first and last of them; the points outside the
// range (far beyond every other value) and a NaN leave no trace.
TEST(Decimate, KeepsMinAndMaxPerPixelColumnWithinTheRange) {
    std::vector<double> time{-1}, values{1e9};
    for (int t = 0; t < 100; ++t) {
        const int d = t % 10;
        time.push_back(t);
        values.push_back(d == 3 ? 1000 + t : d == 7 ? -1000 - t : d == 0 ? 5 : d == 9 ? -5 : 0);
    }
    time.insert(time.end(), {100.5, 55});
    values.insert(values.end(), {-1e9, kNaN});
    const std::vector<plot::PixelSpan> spans = plot::Decimate(time, values, 0, 100, 10);
    ASSERT_EQ(spans.size(), 10u);
    for (int x = 0; x < 10; ++x) {
        SCOPED_TRACE(x);
        const plot::PixelSpan& s = spans[static_cast<std::size_t>(x)];
        EXPECT_EQ(s.x, x);
        EXPECT_EQ(s.min, -1007 - 10 * x);
        EXPECT_EQ(s.max, 1003 + 10 * x);
        EXPECT_EQ(s.first, 5);
        EXPECT_EQ(s.last, -5);
    }
    // 4 to 6 on two columns (6 falls into the last): only the zeros between
    // 1003 and -1007.
    const std::vector<plot::PixelSpan> inner = plot::Decimate(time, values, 4, 6, 2);
    ASSERT_EQ(inner.size(), 2u);
    for (const plot::PixelSpan& s : inner) EXPECT_TRUE(s.min == 0 && s.max == 0) << s.x;
    EXPECT_EQ(inner[1].x, 1);
    // Out of the order of time, a column met twice keeps its first, least,
    // greatest and last of both visits.
    const std::vector<plot::PixelSpan> mixed = plot::Decimate({0, 50, 1, 51, 2}, {2, 8, 1, 9, 3}, 0, 100, 2);
    ASSERT_EQ(mixed.size(), 2u);
    EXPECT_TRUE(mixed[0].first == 2 && mixed[0].min == 1 && mixed[0].max == 3 && mixed[0].last == 3);
    EXPECT_TRUE(mixed[1].first == 8 && mixed[1].min == 8 && mixed[1].max == 9 && mixed[1].last == 9);
    EXPECT_TRUE(plot::Decimate(time, values, 5, 5, 10).empty());
    EXPECT_TRUE(plot::Decimate(time, values, 0, 100, 0).empty());
    EXPECT_TRUE(plot::Decimate(time, values, 200, 300, 10).empty());
}
