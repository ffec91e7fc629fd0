// The plot's window on real widgets: the columns it finds, the lines it
// skips, a column's curve shown and hidden, the value pointed at, and the
// mouse's zoom, pan and reset.
#include "ui/plot.h"

#include <QCheckBox>

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "gui_support.h"
#include "sim/simulator.h"

namespace {

// A plot of `text`, closed (and so deleted) at the end of the test.
class PlotTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (form_) form_->close();
        EXPECT_TRUE(WaitFor([this] { return form_.isNull(); }, std::chrono::seconds(5))) << "not deleted on close";
    }
    TPlotForm& Show(const std::vector<std::string>& text, const QString& name = QStringLiteral("a.log")) {
        text_ = text;
        const std::vector<std::string_view> lines(text_.begin(), text_.end());
        form_ = ShowPlot(nullptr, lines, name);
        text_.clear();  // the plot keeps no view into the lines
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form_));
        return *form_;
    }
    // How many pixels of the plot show a column's colour.
    int PixelsOf(int series) const {
        const QImage image = form_->Area()->grab().toImage();
        const QRgb color = TPlotArea::ColorOf(series).rgb();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xffffff) == (color & 0xffffff);
        return n;
    }
    std::vector<std::string> text_;
    QPointer<TPlotForm> form_;
};

// A record each 2 s from 2021-02-01 08:30:00: ch1 = k, ch2 = 100 - 2k,
// ch3 = 2.5k (so that for 41 records the values span 0 to 100 without ch2).
std::vector<std::string> Ramp(int count) {
    std::vector<std::string> lines;
    for (int k = 0; k < count; ++k)
        lines.push_back(QStringLiteral("2021-02-01 08:%1:%2;ch1=%3;ch2=%4;ch3=%5")
                            .arg(30 + 2 * k / 60, 2, 10, QChar('0'))
                            .arg(2 * k % 60, 2, 10, QChar('0'))
                            .arg(k)
                            .arg(100 - 2 * k)
                            .arg(2.5 * k)
                            .toStdString());
    return lines;
}

}  // namespace

// The simulator's logs, a name=value log without a time and a log of junk:
// the window names its columns with a check box each and tells the lines
// it skipped.
TEST_F(PlotTest, FindsTheColumnsAndTellsTheSkippedLines) {
    std::vector<std::string> sim = krx3sim::SampleLogs(1, 50)[0].lines;
    sim.insert(sim.begin() + 10, {"OK", "FS ERROR 17"});
    // The lines, the columns named and the lines skipped told.
    const std::tuple<std::vector<std::string>, QStringList, QString> cases[] = {
        {sim, {"ch1", "ch2", "ch3"}, "2 lines skipped (not parsed)"},
        {{"temp=20.5;volt=3.3", "temp=20.7;volt=3.2", "junk"}, {"temp", "volt"}, "1 line skipped (not parsed)"},
        {{"OK", "FS ERROR 17", "", "done"}, {}, "No numeric columns found. 3 lines skipped (not parsed)"},
        // Values whose ticks are closer than the double's steps there.
        {{"100000000000000000", "100000000000000016"}, {"column 1"}, "No line skipped."},
    };
    for (const auto& [lines, names, skipped] : cases) {
        SCOPED_TRACE(names.join(' ').toStdString());
        TPlotForm& w = Show(lines, QStringLiteral("2017_06_15_10_30_20.log"));
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Plot - 2017_06_15_10_30_20.log"));
        EXPECT_EQ(w.SkippedText(), skipped);
        for (int i = 0; i < names.size(); ++i) {
            EXPECT_EQ(w.ColumnBox(i) ? w.ColumnBox(i)->text() : QString(), names[i]);
            EXPECT_GT(PixelsOf(i), 0) << "no curve of " << i;
        }
        EXPECT_FALSE(w.ColumnBox(static_cast<int>(names.size())));
        TearDown();
    }
}

// Pointing at a point tells its column, value and time, also in a tooltip.
// Unticking a column takes its curve away and leaves the others; its points
// are not told, the nearest shown one is; ticking it brings the curve back.
TEST_F(PlotTest, PointingAtACurveTellsItsValueAndTimeAndHidingAColumnHidesIt) {
    TPlotForm& w = Show(Ramp(41));
    TPlotArea* area = w.Area();
    area->grab();  // drawn once: the positions are known
    const auto point = [&](double t, double v, const char* told) {
        // Away first: Qt drops a move to where the pointer already is.
        QTest::mouseMove(area, QPoint(1, 1));
        QTest::mouseMove(area, area->PositionOf(1612168200 + t, v).toPoint());
        EXPECT_TRUE(WaitFor([&] { return w.PointedText() == told; }, std::chrono::seconds(5)))
            << w.PointedText().toStdString() << " instead of " << told;
        EXPECT_EQ(QToolTip::text(), told);
    };
    point(40, 20, "ch1 = 20 at 2021-02-01 08:30:40");
    // Where ch1 and ch2 cross, 5 pixels apart.
    point(66, 34, "ch2 = 34 at 2021-02-01 08:31:06");
    QTest::mouseClick(w.ColumnBox(1), Qt::LeftButton);
    EXPECT_EQ(PixelsOf(1), 0);
    EXPECT_TRUE(PixelsOf(0) > 0 && PixelsOf(2) > 0);
    point(66, 34, "ch1 = 33 at 2021-02-01 08:31:06");
    QTest::mouseClick(w.ColumnBox(1), Qt::LeftButton);
    EXPECT_GT(PixelsOf(1), 0);
}

// The wheel zooms around the pointer, a drag pans, a double click shows all.
TEST_F(PlotTest, WheelZoomsDragPansDoubleClickResets) {
    TPlotForm& w = Show(Ramp(31));
    TPlotArea* area = w.Area();
    area->grab();
    const double start = 1612168200, end = start + 60;
    ASSERT_EQ(area->From(), start);
    ASSERT_EQ(area->To(), end);
    const QPointF pointer = area->PositionOf(start + 15, 50);
    QWheelEvent wheel(pointer, area->mapToGlobal(pointer), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(area, &wheel);
    EXPECT_NEAR(area->To() - area->From(), 60 * 0.64, 1e-6);
    EXPECT_NEAR(area->PositionOf(start + 15, 50).x(), pointer.x(), 0.01) << "the time under the pointer moved";
    const double from = area->From();
    const QPoint grip = pointer.toPoint();
    QTest::mousePress(area, Qt::LeftButton, Qt::NoModifier, grip);
    QTest::mouseMove(area, grip + QPoint(100, 0));
    QTest::mouseRelease(area, Qt::LeftButton, Qt::NoModifier, grip + QPoint(100, 0));
    EXPECT_LT(area->From(), from);
    EXPECT_NEAR(area->PositionOf(start + 15, 50).x(), pointer.x() + 100, 1) << "not moved with the pointer";
    QTest::mouseDClick(area, Qt::LeftButton, Qt::NoModifier, grip);
    EXPECT_EQ(area->From(), start);
    EXPECT_EQ(area->To(), end);
}
