#include "logview.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

constexpr int kMargin = 4;  // between the frame and the text

const std::shared_ptr<const PackedLines>& NoLines() {
    static const auto none = std::make_shared<const PackedLines>();
    return none;
}

}  // namespace

TLogView::TLogView(QWidget* parent) : QAbstractScrollArea(parent), lines_(NoLines()) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
}

void TLogView::SetLines(std::shared_ptr<const PackedLines> lines) {
    lines_ = lines ? std::move(lines) : NoLines();
    anchor_ = cursor_ = Spot{};
    content_width_ = lines_->size() == 0 ? 0 : fontMetrics().horizontalAdvance(Line(lines_->Longest()));
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void TLogView::clear() { SetLines(nullptr); }

void TLogView::setPlainText(const QString& text) {
    if (text.isEmpty()) return clear();
    std::vector<std::string> lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(line.toLatin1().toStdString());
    SetLines(std::make_shared<const PackedLines>(lines));
}

QString TLogView::Line(std::size_t i) const { return ViewText((*lines_)[i]); }

QString TLogView::toPlainText() const {
    QString text;
    for (std::size_t i = 0; i < lines_->size(); ++i) {
        if (i > 0) text += QLatin1Char('\n');
        text += Line(i);
    }
    return text;
}

QString TLogView::SelectedText() const {
    const auto [from, to] = std::minmax(anchor_, cursor_);
    if (lines_->size() == 0 || from == to) return QString();
    QString text;
    for (std::size_t i = from.line; i <= to.line; ++i) {
        const QString line = Line(i);
        const qsizetype begin = i == from.line ? from.column : 0;
        const qsizetype end = i == to.line ? to.column : line.size();
        if (i > from.line) text += QLatin1Char('\n');
        text += line.mid(begin, end - begin);
    }
    return text;
}

void TLogView::selectAll() {
    if (lines_->size() == 0) return;
    anchor_ = Spot{};
    cursor_ = Spot{lines_->size() - 1, Line(lines_->size() - 1).size()};
    viewport()->update();
}

void TLogView::copy() {
    const QString text = SelectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

int TLogView::LineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

void TLogView::UpdateScrollBars() {
    const int rows = std::max(1, viewport()->height() / LineHeight());
    const auto count = static_cast<int>(std::min<std::size_t>(lines_->size(), INT_MAX));
    verticalScrollBar()->setRange(0, std::max(0, count - rows));
    verticalScrollBar()->setPageStep(rows);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setRange(0, std::max(0, content_width_ + 2 * kMargin - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(fontMetrics().averageCharWidth() * 4);
}

TLogView::Spot TLogView::SpotAt(const QPoint& p) const {
    Spot s;
    if (lines_->size() == 0) return s;
    const long long row = verticalScrollBar()->value() + std::max(0, p.y()) / LineHeight();
    s.line = static_cast<std::size_t>(std::min<long long>(row, static_cast<long long>(lines_->size()) - 1));
    const QString line = Line(s.line);
    const int x = p.x() + horizontalScrollBar()->value() - kMargin;
    // The column whose left edge is nearest: the widths of a line's
    // beginnings only grow, so a binary search finds it.
    const QFontMetrics fm = fontMetrics();
    qsizetype lo = 0, hi = line.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi) / 2;
        const int left = fm.horizontalAdvance(line.left(mid)), right = fm.horizontalAdvance(line.left(mid + 1));
        if ((left + right) / 2 < x)
            lo = mid + 1;
        else
            hi = mid;
    }
    s.column = lo;
    return s;
}

void TLogView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QFontMetrics fm = fontMetrics();
    const int height = LineHeight(), dx = kMargin - horizontalScrollBar()->value();
    const auto [from, to] = std::minmax(anchor_, cursor_);
    const QPalette& pal = palette();
    for (std::size_t i = static_cast<std::size_t>(verticalScrollBar()->value()), row = 0;
         i < lines_->size() && static_cast<int>(row) * height < viewport()->height(); ++i, ++row) {
        const QString line = Line(i);
        const int top = static_cast<int>(row) * height;
        if (from < to && from.line <= i && i <= to.line) {
            const qsizetype begin = i == from.line ? from.column : 0;
            const int left = fm.horizontalAdvance(line.left(begin));
            // A selection that goes on past the line's end shows a space's width there.
            const int right = i == to.line ? fm.horizontalAdvance(line.left(to.column))
                                           : fm.horizontalAdvance(line) + fm.horizontalAdvance(QLatin1Char(' '));
            painter.fillRect(QRect(dx + left, top, right - left, height), pal.brush(QPalette::Highlight));
            painter.setPen(pal.color(QPalette::Text));
            painter.drawText(dx, top + fm.ascent(), line.left(begin));
            painter.setPen(pal.color(QPalette::HighlightedText));
            const qsizetype end = i == to.line ? to.column : line.size();
            painter.drawText(dx + left, top + fm.ascent(), line.mid(begin, end - begin));
            painter.setPen(pal.color(QPalette::Text));
            painter.drawText(dx + fm.horizontalAdvance(line.left(end)), top + fm.ascent(), line.mid(end));
        } else {
            painter.setPen(pal.color(QPalette::Text));
            painter.drawText(dx, top + fm.ascent(), line);
        }
    }
}

void TLogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TLogView::scrollContentsBy(int, int) { viewport()->update(); }

void TLogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) SetLines(lines_);
}

void TLogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    cursor_ = SpotAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
    viewport()->update();
}

void TLogView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const QPoint p = event->position().toPoint();
    // Dragging past an edge scrolls that way.
    QScrollBar* v = verticalScrollBar();
    if (p.y() < 0) v->setValue(v->value() - 1);
    if (p.y() > viewport()->height()) v->setValue(v->value() + 1);
    cursor_ = SpotAt(p);
    viewport()->update();
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || lines_->size() == 0) return;
    const Spot s = SpotAt(event->position().toPoint());
    anchor_ = Spot{s.line, 0};
    cursor_ = Spot{s.line, Line(s.line).size()};
    viewport()->update();
}

void TLogView::keyPressEvent(QKeyEvent* event) {
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->key() == Qt::Key_P && event->modifiers() == Qt::ControlModifier) {
        emit PlotRequested();
    } else if (event->matches(QKeySequence::MoveToPreviousLine)) {
        v->triggerAction(QAbstractSlider::SliderSingleStepSub);
    } else if (event->matches(QKeySequence::MoveToNextLine)) {
        v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    } else if (event->matches(QKeySequence::MoveToPreviousPage)) {
        v->triggerAction(QAbstractSlider::SliderPageStepSub);
    } else if (event->matches(QKeySequence::MoveToNextPage)) {
        v->triggerAction(QAbstractSlider::SliderPageStepAdd);
    } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
        v->triggerAction(QAbstractSlider::SliderToMinimum);
    } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
        v->triggerAction(QAbstractSlider::SliderToMaximum);
    } else if (event->matches(QKeySequence::MoveToPreviousChar)) {
        h->triggerAction(QAbstractSlider::SliderSingleStepSub);
    } else if (event->matches(QKeySequence::MoveToNextChar)) {
        h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    } else {
        QAbstractScrollArea::keyPressEvent(event);  // Esc and the rest go on to the window
    }
}

void TLogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("Copy"), this, &TLogView::copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(!(anchor_ == cursor_));
    QAction* all = menu.addAction(QStringLiteral("Select All"), this, &TLogView::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    menu.addSeparator();
    QAction* plot = menu.addAction(QStringLiteral("Plot"), this, &TLogView::PlotRequested);
    plot->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    plot->setEnabled(lines_->size() > 0);
    menu.exec(event->globalPos());
}
