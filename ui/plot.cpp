#include "plot.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Room around the plot's rectangle for the value labels (left) and the two
// lines of time labels (below).
constexpr int kLeft = 72, kRight = 16, kTop = 12, kBottom = 46;
// How near (pixels) a point must be to the pointer to be told.
constexpr int kReach = 8;
constexpr double kDay = 86400;
// Ticks are counted rather than stepped to, and at most this many: a step
// too small to change a large value adds nothing.
constexpr int kMostTicks = 200;

// A step of 1, 2 or 5 times a power of ten that cuts `span` into at most
// `count` parts.
double NiceStep(double span, int count) {
    const double raw = span / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / power;
    return (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10) * power;
}

// A step of a date axis that cuts `span` seconds into at most `count`
// parts: seconds, minutes, hours and days that a clock reads well.
double TimeStep(double span, int count) {
    static const double kSteps[] = {1,         2,         5,          10,        15,       30,       60,
                                    120,       300,       600,        900,       1800,     3600,     7200,
                                    10800,     21600,     43200,      kDay,      2 * kDay, 7 * kDay, 14 * kDay,
                                    30 * kDay, 91 * kDay, 182 * kDay, 365 * kDay};
    const double raw = span / std::max(count, 1);
    if (raw < 1) return NiceStep(span, count);
    for (double step : kSteps)
        if (step >= raw) return step;
    return NiceStep(span / kDay, count) * kDay;
}

QDateTime DateOf(double t) { return QDateTime::fromMSecsSinceEpoch(std::llround(t * 1000), Qt::UTC); }

QString ValueText(double v) { return QString::number(v, 'g', 10); }

// The last value before `i` (from > i) or the first from `i` on that is a
// number, looking at most a few thousand points; -1 when none.
long long NumberNear(const std::vector<double>& values, long long i, int direction) {
    for (int n = 0; n < 4096 && i >= 0 && i < static_cast<long long>(values.size()); ++n, i += direction)
        if (!std::isnan(values[static_cast<std::size_t>(i)])) return i;
    return -1;
}

}  // namespace

TPlotArea::TPlotArea(const plot::Columns& columns, QWidget* parent)
    : QWidget(parent), columns_(columns), shown_(columns.series.size(), true) {
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
    ShowAll();
}

QColor TPlotArea::ColorOf(int series) {
    static const QRgb kColors[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                   0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x393b79};
    if (series >= 0 && series < 10) return QColor(kColors[series]);
    return QColor::fromHsv((series * 47) % 360, 220, 190);
}

void TPlotArea::SetShown(int series, bool shown) {
    shown_[static_cast<std::size_t>(series)] = shown;
    update();
}

void TPlotArea::SetRange(double from, double to) {
    if (!(to > from)) return;
    t0_ = from;
    t1_ = to;
    update();
}

void TPlotArea::ShowAll() {
    const std::vector<double>& time = columns_.time;
    if (time.empty()) {
        all0_ = 0;
        all1_ = 1;
    } else if (columns_.time_sorted) {
        all0_ = time.front();
        all1_ = time.back();
    } else {
        const auto [lo, hi] = std::minmax_element(time.begin(), time.end());
        all0_ = *lo;
        all1_ = *hi;
    }
    if (!(all1_ > all0_)) {
        all0_ -= 1;
        all1_ += 1;
    }
    SetRange(all0_, all1_);
}

std::pair<std::size_t, std::size_t> TPlotArea::IndicesWithin(double t0, double t1) const {
    const std::vector<double>& time = columns_.time;
    if (!columns_.time_sorted) return {0, time.size()};
    const auto from = std::lower_bound(time.begin(), time.end(), t0);
    const auto to = std::upper_bound(from, time.end(), t1);
    return {static_cast<std::size_t>(from - time.begin()), static_cast<std::size_t>(to - time.begin())};
}

QPointF TPlotArea::PositionOf(double time, double value) const {
    return QPointF(rect_.left() + (time - t0_) / (t1_ - t0_) * rect_.width(),
                   rect_.top() + (v1_ - value) / (v1_ - v0_) * rect_.height());
}

QString TPlotArea::TimeText(double t) const {
    switch (columns_.time_kind) {
        case plot::TimeKind::kDateTime:
            return DateOf(t).toString(std::abs(t - std::round(t)) > 1e-6 ? QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")
                                                                         : QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        case plot::TimeKind::kNumber:
            return ValueText(t);
        case plot::TimeKind::kLineIndex:
            break;
    }
    return QStringLiteral("line %1").arg(std::llround(t) + 1);
}

void TPlotArea::Paint(QPainter& p, const QSize& size) const {
    p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    rect_ = QRect(kLeft, kTop, std::max(1, size.width() - kLeft - kRight), std::max(1, size.height() - kTop - kBottom));
    const int width = rect_.width();
    const std::vector<double>& time = columns_.time;
    const auto [from, to] = IndicesWithin(t0_, t1_);

    // Each shown column reduced to its pixel columns; the values' axis
    // spans what is visible of them.
    std::vector<std::vector<plot::PixelSpan>> spans(columns_.series.size());
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t s = 0; s < spans.size(); ++s) {
        if (!shown_[s]) continue;
        spans[s] = plot::Decimate(time, columns_.series[s].values, from, to, t0_, t1_, width);
        for (const plot::PixelSpan& span : spans[s]) {
            lo = std::min(lo, span.min);
            hi = std::max(hi, span.max);
        }
    }
    if (lo > hi) {
        lo = 0;
        hi = 1;
    } else if (lo == hi) {
        const double half = std::max(std::abs(lo) * 0.01, 0.5);
        lo -= half;
        hi += half;
    }
    v0_ = lo - (hi - lo) * 0.05;
    v1_ = hi + (hi - lo) * 0.05;
    if (!std::isfinite(v1_ - v0_)) {
        v0_ = lo;
        v1_ = hi;
    }

    DrawValueAxis(p, rect_);
    DrawTimeAxis(p, rect_);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect_.adjusted(0, 0, -1, -1));

    // The curves, without antialiasing: a span per pixel column drawn as a
    // stroke from its first value through its least and greatest to its
    // last, joined to the next; on a sorted axis, joined to the points just
    // outside the range so that a curve reaches the edges.
    p.save();
    p.setClipRect(rect_);
    p.setRenderHint(QPainter::Antialiasing, false);
    const double scale = (v1_ - v0_) > 0 ? rect_.height() / (v1_ - v0_) : 0;
    auto y_of = [&](double v) { return rect_.top() + (v1_ - v) * scale; };
    QPolygonF line;
    for (std::size_t s = 0; s < spans.size(); ++s) {
        if (!shown_[s] || spans[s].empty()) continue;
        const std::vector<double>& values = columns_.series[s].values;
        line.clear();
        line.reserve(static_cast<int>(spans[s].size() * 4 + 2));
        const long long before = columns_.time_sorted ? NumberNear(values, static_cast<long long>(from) - 1, -1) : -1;
        if (before >= 0)
            line << PositionOf(time[static_cast<std::size_t>(before)], values[static_cast<std::size_t>(before)]);
        for (const plot::PixelSpan& span : spans[s]) {
            const double x = rect_.left() + span.x + 0.5;
            line << QPointF(x, y_of(span.first));
            if (span.min != span.max) line << QPointF(x, y_of(span.min)) << QPointF(x, y_of(span.max));
            line << QPointF(x, y_of(span.last));
        }
        const long long after = columns_.time_sorted ? NumberNear(values, static_cast<long long>(to), 1) : -1;
        if (after >= 0)
            line << PositionOf(time[static_cast<std::size_t>(after)], values[static_cast<std::size_t>(after)]);
        p.setPen(QPen(ColorOf(static_cast<int>(s)), 1));
        if (line.size() == 1) line << line.front() + QPointF(1, 0);
        p.drawPolyline(line);
    }
    p.restore();
}

void TPlotArea::DrawValueAxis(QPainter& p, const QRect& r) const {
    if (!std::isfinite(v1_ - v0_)) return;  // values near the double's limits: no ticks
    const double step = NiceStep(v1_ - v0_, std::max(2, r.height() / 40));
    const QFontMetrics metrics = p.fontMetrics();
    const double first = std::ceil(v0_ / step);
    for (int k = 0; k < kMostTicks && (first + k) * step <= v1_; ++k) {
        const double v = (first + k) * step;
        const double shown = std::abs(v) < step * 1e-9 ? 0 : v;
        const int y = static_cast<int>(std::lround(r.top() + (v1_ - v) / (v1_ - v0_) * r.height()));
        p.setPen(QColor(0xe4, 0xe4, 0xe4));
        p.drawLine(r.left(), y, r.right(), y);
        p.setPen(Qt::black);
        p.drawLine(r.left() - 4, y, r.left(), y);
        p.drawText(QRect(0, y - metrics.height() / 2, r.left() - 7, metrics.height()),
                   Qt::AlignRight | Qt::AlignVCenter, ValueText(shown));
    }
}

void TPlotArea::DrawTimeAxis(QPainter& p, const QRect& r) const {
    const bool dates = columns_.time_kind == plot::TimeKind::kDateTime;
    // A line's axis counts from 1, as people count lines.
    const double offset = columns_.time_kind == plot::TimeKind::kLineIndex ? 1 : 0;
    const int count = std::max(2, r.width() / 110);
    double step = dates ? TimeStep(t1_ - t0_, count) : NiceStep(t1_ - t0_, count);
    if (columns_.time_kind == plot::TimeKind::kLineIndex) step = std::max(step, 1.0);
    const QFontMetrics metrics = p.fontMetrics();
    const int line = metrics.height();
    QString last_date;
    const double first = std::ceil((t0_ + offset) / step);
    for (int k = 0; k < kMostTicks && (first + k) * step <= t1_ + offset; ++k) {
        const double u = (first + k) * step;
        const double t = u - offset;
        const int x = static_cast<int>(std::lround(r.left() + (t - t0_) / (t1_ - t0_) * r.width()));
        p.setPen(QColor(0xe4, 0xe4, 0xe4));
        p.drawLine(x, r.top(), x, r.bottom());
        p.setPen(Qt::black);
        p.drawLine(x, r.bottom(), x, r.bottom() + 4);
        QString first, second;
        if (!dates) {
            first = ValueText(std::abs(u) < step * 1e-9 ? 0 : u);
        } else {
            const QDateTime at = DateOf(t);
            const QString date = at.toString(QStringLiteral("yyyy-MM-dd"));
            if (step >= kDay) {
                first = date;
            } else {
                first = at.toString(step < 1    ? QStringLiteral("hh:mm:ss.zzz")
                                    : step < 60 ? QStringLiteral("hh:mm:ss")
                                                : QStringLiteral("hh:mm"));
                // The date under the first tick and where the day changes.
                if (date != last_date) second = date;
                last_date = date;
            }
        }
        const QRect box(x - 60, r.bottom() + 6, 120, line);
        p.drawText(box, Qt::AlignHCenter | Qt::AlignTop, first);
        if (!second.isEmpty()) p.drawText(box.translated(0, line), Qt::AlignHCenter | Qt::AlignTop, second);
    }
    QString name = QString::fromStdString(columns_.time_name);
    if (name.isEmpty() && columns_.time_kind == plot::TimeKind::kLineIndex) name = QStringLiteral("line");
    if (!name.isEmpty())
        p.drawText(QRect(r.right() - 200, r.bottom() + 6 + line, 200, line), Qt::AlignRight | Qt::AlignTop, name);
}

QString TPlotArea::PointAt(const QPoint& pos) const {
    if (!rect_.adjusted(-kReach, -kReach, kReach, kReach).contains(pos) || rect_.width() < 1) return QString();
    const double per_pixel = (t1_ - t0_) / rect_.width();
    const double at = t0_ + (pos.x() - rect_.left()) * per_pixel;
    const auto [from, to] = IndicesWithin(at - kReach * per_pixel, at + kReach * per_pixel);
    const std::vector<double>& time = columns_.time;
    double best = kReach * kReach + 1;
    std::size_t best_s = 0, best_i = 0;
    for (std::size_t s = 0; s < columns_.series.size(); ++s) {
        if (!shown_[s]) continue;
        const std::vector<double>& values = columns_.series[s].values;
        for (std::size_t i = from; i < to; ++i) {
            if (std::isnan(values[i])) continue;
            const QPointF d = PositionOf(time[i], values[i]) - QPointF(pos);
            const double distance = d.x() * d.x() + d.y() * d.y();
            if (distance < best) {
                best = distance;
                best_s = s;
                best_i = i;
            }
        }
    }
    if (best > kReach * kReach) return QString();
    return QStringLiteral("%1 = %2 at %3")
        .arg(QString::fromStdString(columns_.series[best_s].name), ValueText(columns_.series[best_s].values[best_i]),
             TimeText(time[best_i]));
}

void TPlotArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    Paint(p, size());
}

void TPlotArea::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0 || rect_.width() < 1) return;
    const double span = t1_ - t0_;
    const double whole = all1_ - all0_;
    const double wanted = std::clamp(span * std::pow(0.8, steps), std::max(whole * 1e-7, 1e-3), whole * 10);
    // The time under the pointer stays under it.
    const double part = std::clamp((event->position().x() - rect_.left()) / rect_.width(), 0.0, 1.0);
    const double anchor = t0_ + part * span;
    SetRange(anchor - part * wanted, anchor + (1 - part) * wanted);
    event->accept();
}

void TPlotArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    drag_from_ = event->position().toPoint();
    drag_t0_ = t0_;
}

void TPlotArea::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (dragging_ && rect_.width() > 0) {
        const double span = t1_ - t0_;
        const double from = drag_t0_ - (pos.x() - drag_from_.x()) * span / rect_.width();
        SetRange(from, from + span);
        return;
    }
    const QString text = PointAt(pos);
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
    emit Pointed(text);
}

void TPlotArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
}

void TPlotArea::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) ShowAll();
}

void TPlotArea::leaveEvent(QEvent*) { emit Pointed(QString()); }

TPlotForm::TPlotForm(plot::Columns columns, const QString& name, QWidget* parent)
    : QWidget(parent, Qt::Window),
      columns_(std::move(columns)),
      area_(new TPlotArea(columns_, this)),
      pointed_(new QLabel(this)),
      skipped_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Plot - %1").arg(name));
    auto* boxes = new QGridLayout;
    for (std::size_t s = 0; s < columns_.series.size(); ++s) {
        const int i = static_cast<int>(s);
        auto* box = new QCheckBox(QString::fromStdString(columns_.series[s].name), this);
        box->setObjectName(QStringLiteral("column%1").arg(i));
        QPixmap swatch(12, 12);
        swatch.fill(TPlotArea::ColorOf(i));
        box->setIcon(QIcon(swatch));
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, area_, [this, i](bool on) { area_->SetShown(i, on); });
        boxes->addWidget(box, i / 8, i % 8);
    }
    boxes->setColumnStretch(8, 1);

    pointed_->setObjectName(QStringLiteral("pointed"));
    pointed_->setTextFormat(Qt::PlainText);
    const QString hint = QStringLiteral(
        "Point at a curve for its value and time; the wheel zooms, a drag pans, "
        "a double click shows the whole log.");
    pointed_->setText(hint);
    connect(area_, &TPlotArea::Pointed, pointed_,
            [this, hint](const QString& text) { pointed_->setText(text.isEmpty() ? hint : text); });
    skipped_->setObjectName(QStringLiteral("skipped"));
    const std::size_t n = columns_.skipped;
    QString skipped = n == 0   ? QStringLiteral("No line skipped.")
                      : n == 1 ? QStringLiteral("1 line skipped (not parsed)")
                               : QStringLiteral("%1 lines skipped (not parsed)").arg(n);
    if (columns_.series.empty())
        skipped = QStringLiteral("No numeric columns found.") + (n == 0 ? QString() : QStringLiteral(" ") + skipped);
    skipped_->setText(skipped);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(area_, 1);
    layout->addLayout(boxes);
    layout->addWidget(pointed_);
    layout->addWidget(skipped_);
    resize(960, 600);
}

QStringList TPlotForm::ColumnNames() const {
    QStringList names;
    for (const plot::Series& s : columns_.series) names << QString::fromStdString(s.name);
    return names;
}

QString TPlotForm::SkippedText() const { return skipped_->text(); }
QString TPlotForm::PointedText() const { return pointed_->text(); }
QCheckBox* TPlotForm::ColumnBox(int series) const {
    return findChild<QCheckBox*>(QStringLiteral("column%1").arg(series));
}

TPlotForm* ShowPlot(QWidget* parent, const std::vector<std::string_view>& lines, const QString& name) {
    // A long log takes a moment to read.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Restore {
        ~Restore() { QApplication::restoreOverrideCursor(); }
    } restore;
    auto* form = new TPlotForm(plot::ParseColumns(lines), name, parent);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    return form;
}
