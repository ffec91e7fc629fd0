// Draws the application icon at its seven sizes and writes them as PNG files
// and as one Windows .ico file (PNG-compressed 32-bit images).
//
//   krx3-make-icon <output folder>
//
// The outputs are kept in the repository; run this after changing the drawing.
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <cstdio>
#include <vector>

namespace {

QImage draw(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // The logger's case.
    QLinearGradient body(0, 4, 0, 60);
    body.setColorAt(0, QColor(0x2f, 0x5d, 0x8c));
    body.setColorAt(1, QColor(0x1b, 0x36, 0x57));
    p.setPen(QPen(QColor(0x10, 0x22, 0x38), 2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(6, 4, 52, 56), 8, 8);

    // Its display with a recorded curve.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd8, 0xf0, 0xd0));
    p.drawRoundedRect(QRectF(12, 10, 40, 24), 3, 3);
    QPainterPath curve;
    curve.moveTo(15, 28);
    curve.cubicTo(21, 14, 25, 30, 31, 20);
    curve.cubicTo(37, 11, 42, 26, 49, 15);
    p.setPen(QPen(QColor(0x1f, 0x7a, 0x2e), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(curve);

    // The download arrow.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xb3, 0x2e));
    QPainterPath arrow;
    arrow.moveTo(27, 38);
    arrow.lineTo(37, 38);
    arrow.lineTo(37, 46);
    arrow.lineTo(44, 46);
    arrow.lineTo(32, 57);
    arrow.lineTo(20, 46);
    arrow.lineTo(27, 46);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

void put16(QByteArray& out, quint16 v) {
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&v), 2);
}
void put32(QByteArray& out, quint32 v) {
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&v), 4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: krx3-make-icon <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const std::vector<int> sizes = {256, 128, 64, 48, 32, 24, 16};
    std::vector<QByteArray> pngs;
    for (int s : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        draw(s).save(&buffer, "PNG");
        pngs.push_back(png);
        QFile f(out.filePath(QStringLiteral("krx3_%1.png").arg(s)));
        if (!f.open(QIODevice::WriteOnly) || f.write(png) != png.size()) return 1;
    }
    QByteArray ico;
    put16(ico, 0);
    put16(ico, 1);
    put16(ico, static_cast<quint16>(sizes.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        ico.append(static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]));
        ico.append(static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]));
        ico.append('\0');
        ico.append('\0');
        put16(ico, 1);
        put16(ico, 32);
        put32(ico, static_cast<quint32>(pngs[i].size()));
        put32(ico, offset);
        offset += static_cast<quint32>(pngs[i].size());
    }
    for (const QByteArray& png : pngs) ico.append(png);
    QFile f(out.filePath(QStringLiteral("krx3.ico")));
    if (!f.open(QIODevice::WriteOnly) || f.write(ico) != ico.size()) return 1;
    return 0;
}
