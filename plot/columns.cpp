#include "columns.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <unordered_map>

namespace plot {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// How many of the first lines that hold text decide the separator and the
// kind of time.
constexpr std::size_t kSample = 200;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

bool Blank(std::string_view s) { return Trim(s).empty(); }

// A whole field as a finite number; with `decimal_comma`, "12,5" is 12.5.
bool ParseNumber(std::string_view s, bool decimal_comma, double* out) {
    s = Trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    char buf[64];
    if (decimal_comma && s.find(',') != std::string_view::npos) {
        if (s.size() >= sizeof buf) return false;
        std::copy(s.begin(), s.end(), buf);
        std::replace(buf, buf + s.size(), ',', '.');
        s = std::string_view(buf, s.size());
    }
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// Reads `n` digits at text[*at] into *value.
bool Digits(std::string_view text, std::size_t* at, int n, int* value) {
    if (*at + static_cast<std::size_t>(n) > text.size()) return false;
    int v = 0;
    for (int i = 0; i < n; ++i) {
        const char c = text[*at + static_cast<std::size_t>(i)];
        if (!IsDigit(c)) return false;
        v = v * 10 + (c - '0');
    }
    *at += static_cast<std::size_t>(n);
    *value = v;
    return true;
}

bool Char(std::string_view text, std::size_t* at, char c) {
    if (*at >= text.size() || text[*at] != c) return false;
    ++*at;
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// The fields of a line: views into it, split at `sep`.
void Split(std::string_view text, char sep, std::vector<std::string_view>* fields) {
    fields->clear();
    for (;;) {
        const std::size_t at = text.find(sep);
        fields->push_back(text.substr(0, at));
        if (at == std::string_view::npos) return;
        text.remove_prefix(at + 1);
    }
}

// What comes after a leading date and time: spaces and one separator left
// out.
std::string_view AfterDateTime(std::string_view line, std::size_t used, char sep) {
    std::string_view rest = line.substr(used);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == sep) rest.remove_prefix(1);
    return rest;
}

std::string PositionName(std::size_t position) { return "column " + std::to_string(position); }

// The separator most lines hold, ';' before a tab before ','.
char FindSeparator(const std::vector<std::string_view>& sample) {
    const char candidates[] = {';', '\t', ','};
    std::size_t counts[3] = {0, 0, 0};
    for (std::string_view line : sample)
        for (int i = 0; i < 3; ++i) counts[i] += line.find(candidates[i]) != std::string_view::npos;
    for (int i = 0; i < 3; ++i)
        if (counts[i] > 0 && counts[i] * 2 >= sample.size()) return candidates[i];
    const std::size_t* most = std::max_element(counts, counts + 3);
    return candidates[most - counts];
}

// Finds the columns of one line after another, keeping the series in the
// order their columns first held a number.
class Parser {
public:
    Parser(Columns* out, const std::vector<std::string>& header_names)
        : out_(out), header_names_(header_names), decimal_comma_(out->separator != ',') {}

    // Parses a line of text (not blank, not the header); false when it holds
    // no time or no number.
    bool Line(std::string_view line, std::size_t index) {
        double t = static_cast<double>(index);
        std::string_view rest = line;
        std::size_t position = 1;  // of fields_[0] in the line, the first field being 1
        if (out_->time_kind == TimeKind::kDateTime) {
            std::size_t used = 0;
            if (!ParseDateTime(Trim(line), &t, &used)) return false;
            rest = AfterDateTime(Trim(line), used, out_->separator);
            position = 2;
        }
        Split(rest, out_->separator, &fields_);
        std::size_t first = 0;
        if (out_->time_kind == TimeKind::kNumber) {
            if (!ParseNumber(fields_[0], decimal_comma_, &t)) return false;
            first = 1;
        }
        std::fill(row_.begin(), row_.end(), kNaN);
        bool any = false;
        for (std::size_t i = first; i < fields_.size(); ++i) {
            const std::string_view field = fields_[i];
            const std::size_t eq = field.find('=');
            double v = 0;
            if (!ParseNumber(eq == std::string_view::npos ? field : field.substr(eq + 1), decimal_comma_, &v)) continue;
            // "=5" has no name: it counts as a plain value.
            const std::string_view name = eq == std::string_view::npos ? std::string_view() : Trim(field.substr(0, eq));
            const int s = name.empty() ? Positional(position + i) : Named(name, i);
            row_[static_cast<std::size_t>(s)] = v;
            any = true;
        }
        if (!any) return false;
        if (!out_->time.empty() && t < out_->time.back()) out_->time_sorted = false;
        out_->time.push_back(t);
        for (std::size_t s = 0; s < row_.size(); ++s) out_->series[s].values.push_back(row_[s]);
        return true;
    }

private:
    // The series of a plain value at a position in the line (1 for the first).
    int Positional(std::size_t position) {
        if (position >= by_position_.size()) by_position_.resize(position + 1, -1);
        int& s = by_position_[position];
        if (s < 0) {
            const std::size_t h = position - 1;
            s = Add(h < header_names_.size() && !header_names_[h].empty() ? header_names_[h] : PositionName(position));
        }
        return s;
    }

    // The series of a name; `slot` (the field's place) keeps the name found
    // there last, as most lines name the same columns in the same order.
    int Named(std::string_view name, std::size_t slot) {
        if (slot >= by_slot_.size()) by_slot_.resize(slot + 1, -1);
        int& s = by_slot_[slot];
        if (s >= 0 && out_->series[static_cast<std::size_t>(s)].name == name) return s;
        const auto found = by_name_.find(std::string(name));
        s = found != by_name_.end() ? found->second : Add(std::string(name));
        return s;
    }

    // A new series (or the one of that name), NaN for the lines before.
    int Add(const std::string& name) {
        const auto found = by_name_.find(name);
        if (found != by_name_.end()) return found->second;
        const int s = static_cast<int>(out_->series.size());
        out_->series.push_back(Series{name, std::vector<double>(out_->time.size(), kNaN)});
        by_name_.emplace(name, s);
        row_.push_back(kNaN);
        return s;
    }

    Columns* out_;
    const std::vector<std::string>& header_names_;
    const bool decimal_comma_;
    std::vector<std::string_view> fields_;
    std::vector<double> row_;  // this line's value of each series
    std::vector<int> by_position_;
    std::vector<int> by_slot_;
    std::unordered_map<std::string, int> by_name_;
};

}  // namespace

bool ParseDateTime(std::string_view text, double* seconds, std::size_t* used) {
    std::size_t at = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!Digits(text, &at, 4, &y) || !Char(text, &at, '-') || !Digits(text, &at, 2, &mo) || !Char(text, &at, '-') ||
        !Digits(text, &at, 2, &d))
        return false;
    // 'T' (ISO), or one or two spaces (the labels and the log box's entries).
    if (!Char(text, &at, 'T')) {
        if (!Char(text, &at, ' ')) return false;
        Char(text, &at, ' ');
    }
    if (!Digits(text, &at, 2, &h) || !Char(text, &at, ':') || !Digits(text, &at, 2, &mi) || !Char(text, &at, ':') ||
        !Digits(text, &at, 2, &s))
        return false;
    double fraction = 0;
    if (at + 1 < text.size() && text[at] == '.' && IsDigit(text[at + 1])) {
        double scale = 0.1;
        for (++at; at < text.size() && IsDigit(text[at]); ++at, scale /= 10) fraction += (text[at] - '0') * scale;
    }
    // A date glued to more letters or digits is something else.
    if (at < text.size() && (IsAlnum(text[at]) || text[at] == '.' || text[at] == ':')) return false;
    if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || s > 59) return false;
    *seconds = static_cast<double>(DaysFromCivil(y, mo, d) * 86400 + h * 3600LL + mi * 60LL + s) + fraction;
    *used = at;
    return true;
}

Columns ParseColumns(const std::vector<std::string_view>& lines) {
    Columns out;
    // The header: a first line of text of at least two names, none a number
    // or a name=value field, found once the separator is known.
    std::size_t first_text = 0;
    while (first_text < lines.size() && Blank(lines[first_text])) ++first_text;

    // The sample: the text after any leading date and time, and whether one
    // was there.
    std::vector<std::string_view> sample;
    std::size_t dated = 0;
    for (std::size_t i = first_text; i < lines.size() && sample.size() < kSample; ++i) {
        const std::string_view line = Trim(lines[i]);
        if (line.empty()) continue;
        double t = 0;
        std::size_t used = 0;
        const bool date = ParseDateTime(line, &t, &used);
        dated += date;
        sample.push_back(date ? line.substr(used) : line);
    }
    out.separator = FindSeparator(sample);
    const bool decimal_comma = out.separator != ',';

    std::vector<std::string> header_names;
    std::vector<std::string_view> fields;
    if (first_text < lines.size()) {
        double t = 0;
        std::size_t used = 0;
        Split(Trim(lines[first_text]), out.separator, &fields);
        const bool names =
            fields.size() >= 2 && std::all_of(fields.begin(), fields.end(), [&](std::string_view f) {
                double v = 0;
                f = Trim(f);
                return !f.empty() && f.find('=') == std::string_view::npos && !ParseNumber(f, decimal_comma, &v);
            });
        if (names && !ParseDateTime(Trim(lines[first_text]), &t, &used)) {
            out.header = true;
            for (std::string_view f : fields) header_names.emplace_back(Trim(f));
            sample.erase(sample.begin());
        }
    }

    if (!sample.empty() && dated * 2 >= sample.size()) {
        out.time_kind = TimeKind::kDateTime;
    } else {
        // A leading plain number that never decreases, before at least one
        // more field, in at least half the lines.
        std::size_t numbered = 0;
        double last = -std::numeric_limits<double>::infinity();
        bool rising = true;
        for (std::string_view line : sample) {
            Split(line, out.separator, &fields);
            double v = 0;
            if (fields.size() < 2 || !ParseNumber(fields[0], decimal_comma, &v)) continue;
            ++numbered;
            rising = rising && v >= last;
            last = v;
        }
        if (numbered > 0 && numbered * 2 >= sample.size() && rising) out.time_kind = TimeKind::kNumber;
    }
    if (out.header && !header_names.empty() && out.time_kind != TimeKind::kLineIndex) out.time_name = header_names[0];

    Parser parser(&out, header_names);
    out.time.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (Blank(lines[i])) {
            ++out.blank;
        } else if (out.header && i == first_text) {
            // the names, not a record
        } else if (!parser.Line(lines[i], i)) {
            ++out.skipped;
        }
    }
    return out;
}

std::vector<PixelSpan> Decimate(const std::vector<double>& time, const std::vector<double>& values, double t0,
                                double t1, int width) {
    return Decimate(time, values, 0, time.size(), t0, t1, width);
}

std::vector<PixelSpan> Decimate(const std::vector<double>& time, const std::vector<double>& values, std::size_t from,
                                std::size_t to, double t0, double t1, int width) {
    std::vector<PixelSpan> spans;
    if (!(t1 > t0) || width < 1) return spans;
    const std::size_t n = std::min({time.size(), values.size(), to});
    std::vector<PixelSpan> columns(static_cast<std::size_t>(width));
    std::vector<char> used(static_cast<std::size_t>(width), 0);
    const double scale = width / (t1 - t0);
    // The column being filled is kept apart from the array, as points come
    // mostly in the order of time: one column after another.
    PixelSpan current;
    current.x = -1;
    const auto keep = [&] {
        if (current.x < 0) return;
        const auto x = static_cast<std::size_t>(current.x);
        PixelSpan& c = columns[x];
        if (!used[x]) {
            used[x] = 1;
            c = current;
        } else {
            c.min = std::min(c.min, current.min);
            c.max = std::max(c.max, current.max);
            c.last = current.last;
        }
    };
    for (std::size_t i = from; i < n; ++i) {
        const double t = time[i];
        const double v = values[i];
        if (!(t >= t0 && t <= t1) || std::isnan(v)) continue;
        const int x = std::min(static_cast<int>((t - t0) * scale), width - 1);
        if (x == current.x) {
            current.min = std::min(current.min, v);
            current.max = std::max(current.max, v);
            current.last = v;
        } else {
            keep();
            current = PixelSpan{x, v, v, v, v};
        }
    }
    keep();
    for (int x = 0; x < width; ++x)
        if (used[static_cast<std::size_t>(x)]) spans.push_back(columns[static_cast<std::size_t>(x)]);
    return spans;
}

}  // namespace plot
