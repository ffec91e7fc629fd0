// krx3 report: what the records of a folder of loggers say, per logger.
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <utility>
#include <vector>

#include "commands.h"
#include "offload/record.h"
#include "present.h"

namespace {

// The folders that hold a record, each with what it says: DIR itself (pull
// without --by-serial) and each logger's folder in it, by name.
std::vector<std::pair<QString, RecordContents>> records(const QString& dir) {
    std::vector<std::pair<QString, RecordContents>> found;
    QStringList folders{dir};
    for (const QString& name : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        folders << QDir(dir).filePath(name);
    for (const QString& folder : folders) {
        RecordContents r = ReadRecordContents(folder);
        if (r.exists) found.emplace_back(folder, std::move(r));
    }
    return found;
}

std::string entryText(const RecordEntry& e) {
    std::string text = e.event + "  " + e.name + "  ";
    if (e.event == "pulled")
        text += e.start + " to " + e.stop + "  " + std::to_string(e.lines) + " lines, " + std::to_string(e.bytes) +
                " bytes  " + e.file + "  sha256 " + e.sha256;
    else if (e.event == "deleted")
        text += "its copy " + e.file + " had sha256 " + e.sha256;
    else
        text += e.step + ": " + e.reason + (e.error.empty() ? "" : " (" + e.error + ")");
    return text + "  at " + e.when;
}

QJsonObject entryJson(const RecordEntry& e) {
    QJsonObject o;
    const auto put = [&](const char* key, const std::string& value) {
        if (!value.empty()) o[QLatin1String(key)] = Unicode(value);
    };
    put("event", e.event);
    put("name", e.name);
    put("start", e.start);
    put("stop", e.stop);
    put("file", e.file);
    put("sha256", e.sha256);
    put("step", e.step);
    put("reason", e.reason);
    put("error", e.error);
    put("when", e.when);
    if (e.event == "pulled") {
        o["lines"] = e.lines;
        o["bytes"] = e.bytes;
    }
    return o;
}

}  // namespace

int reportCommand(const Options& o) {
    const std::string& dir = o.names.front();
    if (!FolderExists(dir)) return kUsage;
    const QString root = FromLocal(dir);
    const auto folders = records(root);
    QJsonArray loggers;
    for (const auto& [folder, r] : folders) {
        int counts[3] = {0, 0, 0};  // pulled, deleted, failed
        for (const RecordEntry& e : r.entries) ++counts[e.event == "pulled" ? 0 : e.event == "deleted" ? 1 : 2];
        const std::string serial = folder == root ? std::string("-") : QDir(folder).dirName().toStdString();
        if (o.json) {
            QJsonArray entries;
            for (const RecordEntry& e : r.entries) entries.append(entryJson(e));
            QJsonObject logger;
            logger["serial"] = Unicode(serial);
            logger["folder"] = NativeUnicode(folder);
            logger["pulled"] = counts[0];
            logger["deleted"] = counts[1];
            logger["failed"] = counts[2];
            logger["unreadable_lines"] = r.torn;
            logger["entries"] = entries;
            loggers.append(logger);
            continue;
        }
        std::printf("%s  %s: pulled %d, deleted %d, failed %d\n", serial.c_str(), Native(folder).c_str(), counts[0],
                    counts[1], counts[2]);
        for (const RecordEntry& e : r.entries) std::printf("  %s\n", entryText(e).c_str());
        if (r.torn > 0)
            std::printf(
                "  %d line%s of the record could not be read (written in part, as when the program was "
                "ended) and %s skipped\n",
                r.torn, r.torn == 1 ? "" : "s", r.torn == 1 ? "was" : "were");
    }
    if (o.json) PrintJson(QJsonDocument(loggers), false);
    if (folders.empty()) say("krx3: no record (" + std::string(kRecordName) + ") in " + Native(root) + ".");
    return folders.empty() ? kFailed : kDone;
}
