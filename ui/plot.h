// The plot of a log: its numeric columns (plot/columns.h) drawn over time in
// a window of their own, a check box per column to show or hide its curve.
// The wheel zooms the time axis around the pointer, a drag pans it, a
// double click shows the whole log again; pointing at a curve tells the
// value and time of the nearest point of the shown columns.
#pragma once

#include <QColor>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <string_view>
#include <vector>

#include "plot/columns.h"

class QCheckBox;
class QLabel;
class QPainter;

// The drawing area: axes with ticks, and the shown columns' curves over the
// visible time range, each reduced to a span per pixel column.
class TPlotArea : public QWidget {
    Q_OBJECT
public:
    explicit TPlotArea(const plot::Columns& columns, QWidget* parent = nullptr);

    // Draws the plot into a painter of `size` pixels (the widget paints
    // through it; the benchmark draws into an image).
    void Paint(QPainter& painter, const QSize& size) const;

    void SetShown(int series, bool shown);
    bool Shown(int series) const { return shown_[static_cast<std::size_t>(series)]; }
    static QColor ColorOf(int series);

    // The visible time range, in the time axis' own seconds or numbers.
    double From() const { return t0_; }
    double To() const { return t1_; }
    void SetRange(double from, double to);
    void ShowAll();

    // Where a point of the data was drawn last (widget pixels).
    QPointF PositionOf(double time, double value) const;
    // "ch1 = 12.34 at 2017-06-15 10:30:20" for the shown point nearest to
    // `pos` as drawn last, if one lies within a few pixels; else empty.
    QString PointAt(const QPoint& pos) const;
    // A time as the axis shows it: a date and time, a number or a line.
    QString TimeText(double t) const;

signals:
    // The text of the point pointed at (empty when none).
    void Pointed(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The indices of the points whose time lies in [t0, t1] (all of them
    // when the time axis is not sorted).
    std::pair<std::size_t, std::size_t> IndicesWithin(double t0, double t1) const;
    void DrawTimeAxis(QPainter& p, const QRect& r) const;
    void DrawValueAxis(QPainter& p, const QRect& r) const;

    const plot::Columns& columns_;
    std::vector<bool> shown_;
    double all0_ = 0, all1_ = 1;  // the whole time axis
    double t0_ = 0, t1_ = 1;      // the visible part
    // The mapping of the last drawing: the plot's rectangle and its values.
    mutable QRect rect_;
    mutable double v0_ = 0, v1_ = 1;
    bool dragging_ = false;
    QPoint drag_from_;
    double drag_t0_ = 0;
};

// The plot's window: the area, a check box per column in its curve's colour
// (object names "column0", "column1", ...), the text of the point pointed at
// ("pointed") and how many lines were skipped ("skipped").
class TPlotForm : public QWidget {
    Q_OBJECT
public:
    TPlotForm(plot::Columns columns, const QString& name, QWidget* parent = nullptr);

    QStringList ColumnNames() const;
    QString SkippedText() const;
    QString PointedText() const;
    TPlotArea* Area() const { return area_; }
    QCheckBox* ColumnBox(int series) const;

private:
    plot::Columns columns_;
    TPlotArea* area_;
    QLabel* pointed_;
    QLabel* skipped_;
};

// Finds the columns of `lines` and shows them in a new window (deleted when
// it closes) over `parent`, titled "Plot - <name>".
TPlotForm* ShowPlot(QWidget* parent, const std::vector<std::string_view>& lines, const QString& name);
