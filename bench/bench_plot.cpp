// Benchmark of the plot (not a test; prints figures).
//
// 1. Finding the columns of 1,000,000 simulator records (a date and time,
//    three name=value columns): the median of 5 runs.
// 2. Drawing them into a 1200x600 image: all three columns (3,000,000
//    points), one column (1,000,000 points), and a tenth of the time axis;
//    the median of 9 runs each. Target: 50 ms for 1,000,000 points.
// With --save FILE, the image of all three columns is written to FILE.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "plot/columns.h"
#include "sim/simulator.h"
#include "ui/plot.h"

namespace {

// The median time of `runs` runs of `work`, in ms.
double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const char* save = argc == 3 && std::strcmp(argv[1], "--save") == 0 ? argv[2] : nullptr;
    constexpr int kLines = 1000000;

    const std::vector<std::string> text = krx3sim::SampleLogs(1, kLines)[0].lines;
    const std::vector<std::string_view> lines(text.begin(), text.end());
    std::printf("%d simulator records, e.g. \"%s\"\n", kLines, text[1].c_str());

    plot::Columns columns;
    const double parse = MedianMs(5, [&] { columns = plot::ParseColumns(lines); });
    std::printf("  finding the columns: %.1f ms (median of 5), %.2f M lines/s; %zu columns, %zu times, %zu skipped\n",
                parse, kLines / parse / 1e3, columns.series.size(), columns.time.size(), columns.skipped);

    TPlotArea area(columns);
    QImage image(1200, 600, QImage::Format_RGB32);
    const auto draw = [&] {
        QPainter painter(&image);
        area.Paint(painter, image.size());
    };
    const double all = MedianMs(9, draw);
    if (save) image.save(QString::fromLocal8Bit(save));
    area.SetShown(1, false);
    area.SetShown(2, false);
    const double one = MedianMs(9, draw);
    area.SetShown(1, true);
    area.SetShown(2, true);
    area.SetRange(area.From() + (area.To() - area.From()) * 0.45, area.From() + (area.To() - area.From()) * 0.55);
    const double tenth = MedianMs(9, draw);
    std::printf("drawing into a %dx%d image (median of 9):\n", image.width(), image.height());
    std::printf("  three columns, %d points: %.1f ms\n", 3 * kLines, all);
    std::printf("  one column, %d points: %.1f ms (target under 50 ms)\n", kLines, one);
    std::printf("  three columns, a tenth of the time axis: %.1f ms\n", tenth);
    return 0;
}
