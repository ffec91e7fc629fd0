#include "logview.h"

// Linux's own text is UTF-8, which has no character per byte: Latin-1 keeps
// every byte one character of its own.
QString ViewText(std::string_view line) {
    QString text = QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    text.replace(QChar(u'\0'), QChar(0xFFFD));
    return text;
}
