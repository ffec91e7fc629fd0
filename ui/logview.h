// The window's view of a log: the lines as the device sent them, kept packed
// (their bytes one after the other and where each begins, about the log's
// bytes and 8 more a line), drawn only where they are seen. Read-only; the
// person selects with the mouse or the keys and copies what is selected.
#pragma once

#include <QAbstractScrollArea>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/packed_lines.h"

// A line of the device as the view shows it: one byte a character, as the
// system's 8-bit code page has it (Windows: the ANSI code page, so that 0x80
// is the euro sign; elsewhere Latin-1), and a NUL as a visible replacement
// character (the file keeps the NUL itself). viewtext_*.cpp.
QString ViewText(std::string_view line);

class TLogView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TLogView(QWidget* parent = nullptr);

    // Shows `lines` in place of what was shown; nothing is copied.
    void SetLines(std::shared_ptr<const PackedLines> lines);
    void clear();
    // Shows `text`, one line a text line, each character one byte (Latin-1).
    void setPlainText(const QString& text);
    const PackedLines& Lines() const { return *lines_; }
    std::shared_ptr<const PackedLines> SharedLines() const { return lines_; }
    std::size_t LineCount() const { return lines_->size(); }
    // Line `i` as the view shows it.
    QString Line(std::size_t i) const;
    // Every line as shown, one to a text line.
    QString toPlainText() const;
    bool isReadOnly() const { return true; }

    QString SelectedText() const;
    void selectAll();
    // Puts the selection on the clipboard.
    void copy();

signals:
    // The person asked for a plot of the lines (the context menu, Ctrl+P).
    void PlotRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // A place between two characters: line and column.
    struct Spot {
        std::size_t line = 0;
        qsizetype column = 0;
        bool operator<(const Spot& o) const { return line < o.line || (line == o.line && column < o.column); }
        bool operator==(const Spot& o) const { return line == o.line && column == o.column; }
    };
    Spot SpotAt(const QPoint& p) const;
    void UpdateScrollBars();
    int LineHeight() const;

    std::shared_ptr<const PackedLines> lines_;
    Spot anchor_, cursor_;  // the selection: from anchor_ to cursor_
    int content_width_ = 0;
};
