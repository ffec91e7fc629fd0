#include "record.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "offload.h"

std::string FileDigest(const QString& path) {
    if (!QFileInfo(path).isFile()) return std::string();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::string();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError) return std::string();
    return hash.result().toHex().toStdString();
}

std::map<std::string, PulledCopy> ReadRecord(const QString& dir) {
    std::map<std::string, PulledCopy> record;
    const QString path = QDir(dir).filePath(QString::fromLatin1(kRecordName));
    if (!QFileInfo(path).isFile()) return record;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return record;
    while (!file.atEnd()) {
        const QJsonObject entry = QJsonDocument::fromJson(file.readLine()).object();
        if (entry.value("event").toString() != QLatin1String("pulled")) continue;
        const std::string name = entry.value("name").toString().toStdString();
        const QString copy = entry.value("file").toString();
        const std::string sha256 = entry.value("sha256").toString().toStdString();
        if (name.empty() || copy.isEmpty() || sha256.empty()) continue;
        record[name] = PulledCopy{copy, sha256};
    }
    return record;
}

bool KnownPulled(const std::map<std::string, PulledCopy>& record, const QString& dir, const fatdss_t& log) {
    const auto it = record.find(log.name);
    if (it == record.end() || it->second.file != QString::fromStdString(log.file)) return false;
    return FileDigest(CopyPath(dir, log)) == it->second.sha256;
}

std::string RecordPulled(const QString& dir, const fatdss_t& log, long lines) {
    const QString copy = CopyPath(dir, log);
    const std::string sha256 = FileDigest(copy);
    if (sha256.empty()) return "its copy could not be read back";
    QJsonObject entry;
    entry["event"] = "pulled";
    entry["name"] = QString::fromStdString(log.name);
    entry["start"] = QString::fromStdString(iso_text(log.start));
    entry["stop"] = QString::fromStdString(iso_text(log.stop));
    entry["file"] = QString::fromStdString(log.file);
    entry["lines"] = static_cast<qint64>(lines);
    entry["bytes"] = QFileInfo(copy).size();
    entry["sha256"] = QString::fromStdString(sha256);
    entry["when"] = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    QFile file(QDir(dir).filePath(QString::fromLatin1(kRecordName)));
    // A line written in one piece; one torn by a crash is skipped on reading,
    // and the newline before this one keeps the next entry whole.
    QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return file.errorString().toStdString();
    if (file.size() > 0) {
        QFile tail(file.fileName());
        if (tail.open(QIODevice::ReadOnly) && tail.seek(tail.size() - 1) && tail.read(1) != "\n") line.prepend('\n');
    }
    if (file.write(line) != line.size() || !file.flush()) return file.errorString().toStdString();
    return std::string();
}
