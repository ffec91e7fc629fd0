#include "record.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <mutex>

#include "offload.h"

const char* EndingCode(Ending kind) {
    switch (kind) {
        case Ending::Done:
            return "done";
        case Ending::PortNotOpened:
            return "port_not_opened";
        case Ending::Stopped:
            return "stopped";
        case Ending::LineLost:
            return "line_lost";
        case Ending::Cut:
            return "cut";
        case Ending::NotSent:
            return "not_sent";
        case Ending::DeviceSilent:
            return "device_silent";
        case Ending::NoLines:
            return "no_lines";
        case Ending::Short:
            return "short";
        case Ending::Unended:
            return "unended";
    }
    return "";
}

std::string FileDigest(const QString& path) {
    if (!QFileInfo(path).isFile()) return std::string();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::string();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError) return std::string();
    return hash.result().toHex().toStdString();
}

RecordContents ReadRecordContents(const QString& dir) {
    RecordContents r;
    QFile file(QDir(dir).filePath(QString::fromLatin1(kRecordName)));
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly)) return r;
    r.exists = true;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.trimmed().isEmpty()) continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        const QJsonObject o = doc.object();
        if (!doc.isObject() || o.value("event").toString().isEmpty()) {
            ++r.torn;
            continue;
        }
        const auto text = [&](const char* key) { return o.value(QLatin1String(key)).toString().toStdString(); };
        RecordEntry e;
        e.event = text("event");
        e.name = text("name");
        e.start = text("start");
        e.stop = text("stop");
        e.file = text("file");
        e.sha256 = text("sha256");
        e.when = text("when");
        e.step = text("step");
        e.reason = text("reason");
        e.error = text("error");
        e.lines = o.value("lines").toVariant().toLongLong();
        e.bytes = o.value("bytes").toVariant().toLongLong();
        r.entries.push_back(e);
    }
    return r;
}

std::map<std::string, PulledCopy> ReadRecord(const QString& dir) {
    std::map<std::string, PulledCopy> record;
    for (const RecordEntry& e : ReadRecordContents(dir).entries)
        if (e.event == "pulled" && !e.name.empty() && !e.file.empty() && !e.sha256.empty())
            record[e.name] = PulledCopy{QString::fromStdString(e.file), e.sha256};
    return record;
}

bool KnownPulled(const std::map<std::string, PulledCopy>& record, const QString& dir, const fatdss_t& log) {
    const auto it = record.find(log.name);
    if (it == record.end() || it->second.file != QString::fromStdString(log.file)) return false;
    return FileDigest(CopyPath(dir, log)) == it->second.sha256;
}

namespace {

// Appends `entry`, with the time, as one line of the record.
std::string Append(const QString& dir, QJsonObject entry) {
    entry["when"] = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    // Records of several loggers are written at once, each into its own
    // folder; one folder's record by one writer at a time.
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
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

}  // namespace

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
    return Append(dir, entry);
}

std::string RecordDeleted(const QString& dir, const fatdss_t& log, const std::string& sha256) {
    QJsonObject entry;
    entry["event"] = "deleted";
    entry["name"] = QString::fromStdString(log.name);
    entry["file"] = QString::fromStdString(log.file);
    entry["sha256"] = QString::fromStdString(sha256);
    return Append(dir, entry);
}

std::string RecordFailed(const QString& dir, const fatdss_t& log, const std::string& step, const std::string& reason,
                         const std::string& error) {
    if (!QFileInfo(dir).isDir()) return std::string();
    QJsonObject entry;
    entry["event"] = "failed";
    entry["step"] = QString::fromStdString(step);
    if (!log.name.empty()) entry["name"] = QString::fromStdString(log.name);
    if (!log.file.empty()) entry["file"] = QString::fromStdString(log.file);
    entry["reason"] = QString::fromStdString(reason);
    if (!error.empty()) entry["error"] = QString::fromLocal8Bit(error.c_str());
    return Append(dir, entry);
}
