// The numeric columns of a log's text lines, found from the lines
// themselves, and their reduction for drawing.
//
// A line is a time followed by fields. The fields are separated by ';', a
// tab or ',' (the one of these that most lines hold, in that order of
// preference, so that "12,5;13,0" reads as two values with decimal commas).
// A field is "name=value" (the column is named by `name`) or a plain value
// (the column is named by its position in the line: "column 2").
//
// The time is, in this order of preference, the one most lines start with:
//  - a date and time: "YYYY-MM-DD hh:mm:ss" (the simulator's records, the
//    catalogue's label_text), "YYYY-MM-DD  hh:mm:ss" (entry_text, two
//    spaces), "YYYY-MM-DDThh:mm:ss" (ISO, iso_text), each with optional
//    fractions of a second; as seconds since 1970-01-01 00:00:00 of the same
//    clock, no time zone applied;
//  - a leading plain number, when it never decreases from line to line;
//  - else the line's index among the lines given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plot {

enum class TimeKind {
    kDateTime,   // seconds since 1970-01-01 of a leading date and time
    kNumber,     // a leading number, as it stands
    kLineIndex,  // the line's index
};

// One numeric column: its values, one for each time; NaN where a line does
// not give the column a number.
struct Series {
    std::string name;
    std::vector<double> values;
};

struct Columns {
    TimeKind time_kind = TimeKind::kLineIndex;
    char separator = ';';
    std::string time_name;     // the header's name of the time, if any
    std::vector<double> time;  // one per parsed line
    std::vector<Series> series;
    std::size_t skipped = 0;  // lines that hold text but no time or no number
    std::size_t blank = 0;    // empty lines and lines of spaces alone
    bool header = false;      // the first line named the columns
    bool time_sorted = true;  // the time never decreases from line to line
};

// The columns of `lines` (each without its line end). Every line is either
// parsed (a time and at least one number), skipped, blank, or the header:
// time.size() + skipped + blank + header == lines.size(). Columns that never
// hold a number are left out.
Columns ParseColumns(const std::vector<std::string_view>& lines);

// The values of one pixel column: the least and the greatest, and the first
// and last in the order of the lines (to join a column to its neighbours).
struct PixelSpan {
    int x = 0;
    double min = 0;
    double max = 0;
    double first = 0;
    double last = 0;
};

// Reduces the points (time[i], values[i]) with time in [t0, t1] to at most
// one span per pixel column of `width` columns spread evenly over the range,
// in the order of x; points outside the range and NaN values are left out.
// An empty range (t1 <= t0) or width < 1 gives nothing.
std::vector<PixelSpan> Decimate(const std::vector<double>& time, const std::vector<double>& values, double t0,
                                double t1, int width);
// The same over the points from `from` up to, not including, `to` (the
// caller narrows a sorted time axis to the range first).
std::vector<PixelSpan> Decimate(const std::vector<double>& time, const std::vector<double>& values, std::size_t from,
                                std::size_t to, double t0, double t1, int width);

// Parses a date and time at the start of `text` (the forms above) into
// seconds since 1970-01-01; `used` gets the count of characters read.
bool ParseDateTime(std::string_view text, double* seconds, std::size_t* used);

}  // namespace plot
