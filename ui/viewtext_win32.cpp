#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>

#include "logview.h"

namespace {

// Each byte's character in the ANSI code page, taken byte by byte: a byte
// stays one character even where the code page would join two bytes into
// one (the lead bytes of the East Asian code pages), and a byte the code
// page does not define shows as the replacement character.
const std::array<char16_t, 256>& CodePage() {
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            wchar_t wide = 0;
            const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1);
            t[static_cast<std::size_t>(b)] = n == 1 ? static_cast<char16_t>(wide) : u'\uFFFD';
        }
        t[0] = u'\uFFFD';
        return t;
    }();
    return table;
}

}  // namespace

QString ViewText(std::string_view line) {
    const std::array<char16_t, 256>& table = CodePage();
    QString text(static_cast<qsizetype>(line.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (unsigned char byte : line) *out++ = QChar(table[byte]);
    return text;
}
