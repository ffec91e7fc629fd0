#include "logfile.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>

std::string WriteLogFile(const QString& path, const std::vector<std::string>& lines) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString().toLocal8Bit().toStdString();
    QByteArray chunk;
    for (const std::string& line : lines) {
        chunk.append(line.data(), static_cast<qsizetype>(line.size()));
        chunk.append("\r\n", 2);
        if (chunk.size() >= (1 << 20)) {
            if (file.write(chunk) != chunk.size()) break;
            chunk.clear();
        }
    }
    if (!chunk.isEmpty() && file.error() == QFileDevice::NoError) file.write(chunk);
    if (file.error() != QFileDevice::NoError) {
        const std::string reason = file.errorString().toLocal8Bit().toStdString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) return file.errorString().toLocal8Bit().toStdString();
    return std::string();
}

bool ReadLogFile(const QString& path, std::vector<std::string>* lines, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    lines->clear();
    qsizetype from = 0;
    while (from < data.size()) {
        qsizetype end = data.indexOf('\n', from);
        const bool last = end < 0;
        if (last) end = data.size();
        qsizetype stop = end;
        if (stop > from && data[stop - 1] == '\r') --stop;
        lines->emplace_back(data.constData() + from, static_cast<std::size_t>(stop - from));
        from = end + 1;
    }
    return true;
}
