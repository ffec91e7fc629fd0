// A log's lines into the plot's columns: every line is parsed, skipped,
// blank or the header; every column has a value (or NaN) for every time;
// and a pixel column's span holds the values that fall into it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "plot/columns.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    const plot::Columns c = plot::ParseColumns(lines);
    FUZZ_CHECK(c.time.size() + c.skipped + c.blank + (c.header ? 1 : 0) == lines.size());
    for (const plot::Series& s : c.series) {
        FUZZ_CHECK(s.values.size() == c.time.size());
        if (c.time.empty() || !(c.time.front() < c.time.back())) continue;
        for (const plot::PixelSpan& p : plot::Decimate(c.time, s.values, c.time.front(), c.time.back(), 64))
            FUZZ_CHECK(p.x >= 0 && p.x < 64 && p.min <= p.max && p.min <= p.first && p.first <= p.max &&
                       p.min <= p.last && p.last <= p.max);
    }
    return 0;
}
