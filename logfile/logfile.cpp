#include "logfile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <string>

#include "move_new.h"

namespace {

std::string errorText(const QFileDevice& file) { return file.errorString().toLocal8Bit().toStdString(); }

// Gives up a save: the temporary file is removed and the target left as it was.
std::string abandon(QSaveFile* file, const std::string& reason) {
    file->cancelWriting();
    file->commit();  // fails by design after cancelWriting(), and removes the temporary file
    return reason.empty() ? std::string("The file could not be written") : reason;
}

// Writes all of `chunk`. A short write (the system took only part, e.g. the
// disk filled up) reports no error of its own, so the rest is written again
// until the system either takes it or says why not. Returns "" when all was
// written, else the reason.
std::string writeAll(QFileDevice* file, const QByteArray& chunk) {
    qint64 done = 0;
    while (done < chunk.size()) {
        const qint64 n = file->write(chunk.constData() + done, chunk.size() - done);
        if (n <= 0 || file->error() != QFileDevice::NoError) {
            if (file->error() != QFileDevice::NoError) return errorText(*file);
            return "Only " + std::to_string(done) + " of " + std::to_string(chunk.size()) + " bytes could be written";
        }
        done += n;
    }
    return std::string();
}

// Writes the lines, each followed by CR LF, in pieces of about 1 MiB.
std::string writeLines(QFileDevice* file, const LineSource& lines) {
    QByteArray chunk;
    for (std::size_t i = 0; i < lines.count; ++i) {
        const std::string_view line = lines.at(i);
        chunk.append(line.data(), static_cast<qsizetype>(line.size()));
        chunk.append("\r\n", 2);
        if (chunk.size() >= (1 << 20)) {
            std::string reason = writeAll(file, chunk);
            if (!reason.empty()) return reason;
            chunk.clear();
        }
    }
    if (!chunk.isEmpty()) return writeAll(file, chunk);
    return std::string();
}

// Only a plain file is opened: opening a FIFO waits for a writer, and a
// device may never end. QFileInfo follows links, so a link is judged by what
// it points at. False, with the reason, for anything else that exists.
bool PlainOrMissing(const QFileInfo& info, QString* error) {
    if (!info.exists() || info.isFile()) return true;
    *error = info.isDir() ? QStringLiteral("It is a folder, not a plain file.")
                          : QStringLiteral("It is not a plain file (a device, a pipe or a socket).");
    return false;
}

}  // namespace

LineSource LinesOf(const std::vector<std::string>& lines) {
    return LineSource{lines.size(), [&lines](std::size_t i) { return std::string_view(lines[i]); }};
}

std::string WriteLogFile(const QString& path, const std::vector<std::string>& lines) {
    return WriteLogFile(path, LinesOf(lines));
}

std::string WriteLogFile(const QString& path, const LineSource& lines) {
    QSaveFile file(path);
    // Unbuffered: each write reaches the system at once, so its failure is
    // seen at that write and not later in a flush whose failure QSaveFile
    // would not remember at commit().
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return errorText(file);
    const std::string reason = writeLines(&file, lines);
    if (!reason.empty()) return abandon(&file, reason);
    if (!file.flush() || file.error() != QFileDevice::NoError) return abandon(&file, errorText(file));
    if (!file.commit()) {
        const std::string why = errorText(file);
        return why.empty() ? std::string("The file could not be saved") : why;
    }
    return std::string();
}

std::string WriteNewLogFile(const QString& path, const std::vector<std::string>& lines, bool* existed) {
    const auto exists = [&path] { return QFileInfo::exists(path) || QFileInfo(path).isSymLink(); };
    *existed = exists();
    if (*existed) return "The file exists";
    // Saved whole under a name of its own first, then moved to its name.
    const QFileInfo target(path);
    const QString part = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                         QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid());
    std::string reason = WriteLogFile(part, lines);
    if (!reason.empty()) return reason;
    // The system's no-replace move: a file that appeared meanwhile stays,
    // and this one is given up.
    std::string why = MoveToNewName(part, path, existed);
    if (why.empty()) {
        if (QFileInfo::exists(part)) QFile::remove(part);  // a link whose old name stayed
        return why;
    }
    QFile::remove(part);
    return *existed ? std::string("The file exists") : why;
}

bool SameLogFile(const QString& path, const std::vector<std::string>& lines, QString* error) {
    return SameLogFile(path, LinesOf(lines), error);
}

bool SameLogFile(const QString& path, const LineSource& lines, QString* error) {
    error->clear();
    if (!PlainOrMissing(QFileInfo(path), error)) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    std::size_t expected = 0;
    for (std::size_t i = 0; i < lines.count; ++i) expected += lines.at(i).size() + 2;
    if (static_cast<std::size_t>(file.size()) != expected) return false;
    QByteArray piece;
    for (std::size_t i = 0; i < lines.count; ++i) {
        const std::string_view line = lines.at(i);
        piece = file.read(static_cast<qint64>(line.size()) + 2);
        if (file.error() != QFileDevice::NoError) {
            *error = file.errorString();
            return false;
        }
        if (static_cast<std::size_t>(piece.size()) != line.size() + 2 ||
            std::memcmp(piece.constData(), line.data(), line.size()) != 0 || piece.right(2) != "\r\n")
            return false;
    }
    return file.read(1).isEmpty();
}

bool ReadLogFile(const QString& path, std::vector<std::string>* lines, QString* error) {
    // A file refused leaves `lines` as they were.
    QByteArray data;
    if (!ReadLogFileText(path, &data, error)) return false;
    lines->clear();
    ForEachLine(data, [&](qsizetype from, qsizetype size) {
        lines->emplace_back(data.constData() + from, static_cast<std::size_t>(size));
    });
    return true;
}

void ForEachLine(const QByteArray& data, const std::function<void(qsizetype from, qsizetype size)>& line) {
    qsizetype from = 0;
    while (from < data.size()) {
        qsizetype end = data.indexOf('\n', from);
        if (end < 0) end = data.size();
        qsizetype stop = end;
        if (stop > from && data[stop - 1] == '\r') --stop;
        line(from, stop - from);
        from = end + 1;
    }
}

bool ReadLogFileText(const QString& path, QByteArray* text, QString* error) {
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("The file does not exist.");
        return false;
    }
    if (!PlainOrMissing(info, error)) return false;
    const QString tooLarge =
        QStringLiteral("The file is larger than %1 bytes, more than any log holds.").arg(kMaxLogFileBytes);
    if (info.size() > kMaxLogFileBytes) {
        *error = tooLarge;
        return false;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    // Read straight into one buffer of the file's size, and at most one byte
    // past the bound, so that a file that grows while it is read is still
    // refused instead of filling the memory.
    QByteArray data(static_cast<qsizetype>(info.size()) + 1, Qt::Uninitialized);
    qint64 got = 0;
    constexpr qint64 kPiece = 1 << 20;
    while (got <= kMaxLogFileBytes) {
        if (got == data.size()) data.resize(static_cast<qsizetype>(std::min(got + kPiece, kMaxLogFileBytes + 1)));
        const qint64 n = file.read(data.data() + got, data.size() - got);
        if (n < 0) {
            *error = file.errorString();
            return false;
        }
        if (n == 0) break;
        got += n;
    }
    data.truncate(static_cast<qsizetype>(got));
    if (data.size() > kMaxLogFileBytes) {
        *error = tooLarge;
        return false;
    }

    // Bounded like an upload: every line costs memory beside its bytes, so a
    // file of nothing but line ends is held to the same memory.
    // (memchr: QByteArray::count(char) goes a byte at a time, several
    // times slower on a log of many megabytes.)
    qsizetype ends = 0;
    for (const char *at = data.constData(), *end = at + data.size();
         (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) != nullptr; ++at)
        ++ends;
    if (static_cast<std::size_t>(data.size()) + static_cast<std::size_t>(ends) * (kLineCost - 1) >
        static_cast<std::size_t>(kMaxLogFileBytes)) {
        *error = QStringLiteral("The file holds %1 lines, more than any log holds.").arg(ends);
        return false;
    }

    *text = std::move(data);
    return true;
}
