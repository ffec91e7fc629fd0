// The .log files on disk: a save writes every byte or says why and leaves the
// name as it was; a new file never replaces one; View Log reads plain files
// of bounded size only, and refuses anything else at once.
#include "logfile.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif
#if defined(Q_OS_LINUX)
#include <sys/mount.h>
#endif

namespace {

using Lines = std::vector<std::string>;

// The bytes a .log file holds for `lines`: each line as it is, then CR LF.
QByteArray Bytes(const Lines& lines) {
    QByteArray b;
    for (const std::string& l : lines) b.append(l.data(), static_cast<qsizetype>(l.size())).append("\r\n", 2);
    return b;
}

// `count` lines of `width` random bytes (no line ends): a byte dropped,
// added or moved changes the file.
Lines RandomLines(std::size_t count, std::size_t width, unsigned seed) {
    std::mt19937 random(seed);
    Lines lines(count, std::string(width, 'x'));
    for (std::string& line : lines)
        for (char& c : line)
            while (c == 'x' || c == '\n' || c == '\r') c = static_cast<char>(random() & 0xFF);
    return lines;
}

const std::string kNulAndHigh = std::string("a\0b", 3) + "\x80\xB0\xE9\xFF";

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

// Every entry of `dir`, hidden ones too: a temporary file left beside shows.
QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Saving, where the system allows onto a small tmpfs filled up to a row's
// `room`: every byte, or the reason and the name as it was, and never a file
// left beside.
TEST(LogFile, WritesEveryByteOrNothing) {
    QTemporaryDir tmp;
    const QByteArray where = QFile::encodeName(tmp.path());
#if defined(Q_OS_LINUX)
    const bool small = ::mount("tmpfs", where.constData(), "tmpfs", 0, "size=4m") == 0;
#else
    const bool small = false;
#endif
    const QDir dir(tmp.path());
    ASSERT_TRUE(dir.mkdir("dir"));
    const qint64 kib = 1024;  // the save writes pieces of about 1 MiB
    const struct {
        const char *what, *target;
        Lines lines;
        qint64 room;        // 0: as much as needed
        bool existing, ok;  // an older log is under the name; the save succeeds
    } cases[] = {
        {"NUL and bytes above 0x7F", "a.log", {"first", kNulAndHigh, "last"}, 0, false, true},
        {"empty lines keep their ends", "a.log", {"", "between", "", ""}, 0, false, true},
        {"no lines: an empty file", "a.log", {}, 0, true, true},
        {"several write pieces meet exactly", "a.log", RandomLines(3000, 999, 7), 0, false, true},
        {"the folder does not exist", "absent/a.log", {"x"}, 0, false, false},
        {"the target is a folder", "dir", {"x"}, 0, false, false},
        {"existing, the only write runs short", "a.log", RandomLines(700, 1000, 2), 512 * kib, true, false},
        {"new, a middle write runs short", "a.log", RandomLines(4000, 1000, 6), 1280 * kib, false, false},
        {"existing, replaced by two pieces that fit", "a.log", RandomLines(1200, 1000, 8), 1400 * kib, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.room && !small) continue;  // mounting needs root
        const QString path = dir.filePath(c.target), old = dir.filePath("a.log"), ballast = dir.filePath("ballast");
        QFile::remove(old);
        QFile::remove(ballast);
        if (c.existing) {
            ASSERT_EQ(WriteLogFile(old, {"the older log"}), "");
        }
        QFile b(ballast);
        const qint64 fill = c.room ? QStorageInfo(dir.path()).bytesAvailable() - c.room : 0;
        ASSERT_TRUE(b.open(QIODevice::WriteOnly) && b.write(QByteArray(static_cast<qsizetype>(fill), 'b')) == fill);
        b.close();
        ASSERT_TRUE(!c.room || QStorageInfo(dir.path()).bytesAvailable() == c.room);
        const std::string reason = WriteLogFile(path, c.lines);
        EXPECT_EQ(reason.empty(), c.ok) << reason;
        EXPECT_TRUE(c.ok || !c.room || reason.find(std::strerror(ENOSPC)) != std::string::npos) << reason;
        EXPECT_EQ(Contents(path), c.ok ? Bytes(c.lines) : c.existing ? Bytes({"the older log"}) : QByteArray("<none>"));
        QStringList entries = Entries(dir.path());
        entries.removeAll("ballast");
        EXPECT_EQ(entries, (c.ok || c.existing) ? QStringList({"a.log", "dir"}) : QStringList{"dir"});
        EXPECT_TRUE(Entries(dir.filePath("dir")).isEmpty());
    }
#if defined(Q_OS_LINUX)
    EXPECT_TRUE(!small || ::umount2(where.constData(), MNT_DETACH) == 0);
#endif
}

// A new file never replaces one, and leaves nothing beside; a comparison
// finds one byte off.
TEST(LogFile, ANewFileNeverReplacesOneAndSameFindsOneByteOff) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.log");
    const Lines lines = {"one", kNulAndHigh};
    bool existed = true;
    EXPECT_EQ(WriteNewLogFile(path, lines, &existed), "");
    EXPECT_FALSE(existed);
    EXPECT_NE(WriteNewLogFile(path, {"other"}, &existed), "");
    EXPECT_TRUE(existed);
    EXPECT_EQ(Contents(path), Bytes(lines));
    EXPECT_EQ(Entries(dir.path()), QStringList{"a.log"});
    for (const Lines& other : {Lines{"one"}, Lines{"onf", kNulAndHigh}, Lines{"one", kNulAndHigh + "!"},
                               Lines{"one", kNulAndHigh.substr(1)}, lines}) {
        QString error = "stale";
        EXPECT_EQ(SameLogFile(path, other, &error), other == lines) << testing::PrintToString(other);
        EXPECT_TRUE(error.isEmpty());
    }
    QString error;
    EXPECT_FALSE(SameLogFile(dir.filePath("absent.log"), lines, &error) || error.isEmpty());
}

// A read that would block (a FIFO opened) ends at the test's time-out.
TEST(LogFile, ReadsPlainFilesOfBoundedSizeAndRefusesTheRestAtOnce) {
    QTemporaryDir dir;
    const auto make = [&](const char* name, const QByteArray& bytes, qint64 size) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.resize(size));
        return f.fileName();
    };
    const QByteArray mixed = QByteArray("crlf\r\n\r\n") + QByteArray(kNulAndHigh.data(), 7) + "\nlf\r\nno end";
    const struct {
        QString path;
        const char* refusal;  // nullptr: read whole
    } cases[] = {
        {make("mixed.log", mixed, mixed.size()), nullptr},
        {make("exact.log", {}, kMaxLogFileBytes), nullptr},
        {dir.path(), "folder"},
        {make("big.log", {}, kMaxLogFileBytes + 1), "larger than 268435456 bytes"},
        {make("ends.log", QByteArray(3 << 20, '\n'), 3 << 20), "lines"},
        {dir.filePath("absent.log"), "does not exist"},
#if defined(Q_OS_UNIX)
        {::mkfifo(QFile::encodeName(dir.filePath("fifo.log")).constData(), 0600) ? "" : dir.filePath("fifo.log"),
         "not a plain file"},
        {"/dev/zero", "not a plain file"},
        {QFile::link("/dev/zero", dir.filePath("zero.log")) ? dir.filePath("zero.log") : "", "not a plain file"},
        {QFile::link(dir.filePath("mixed.log"), dir.filePath("link.log")) ? dir.filePath("link.log") : "", nullptr},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        Lines lines{"left from before"};
        QString error;
        EXPECT_EQ(ReadLogFile(c.path, &lines, &error), c.refusal == nullptr) << error.toStdString();
        if (c.refusal) {
            EXPECT_TRUE(error.contains(c.refusal, Qt::CaseInsensitive)) << error.toStdString();
            EXPECT_TRUE(lines == Lines{"left from before"}) << "a refused file changed the lines";
        } else if (!c.path.endsWith("exact.log")) {
            EXPECT_EQ(lines, (Lines{"crlf", "", kNulAndHigh, "lf", "no end"}));
        } else {
            EXPECT_TRUE(lines.size() == 1 && lines[0].size() == kMaxLogFileBytes &&
                        lines[0].find_first_not_of('\0') == std::string::npos)
                << "a file of the bound is read whole";
        }
    }
}

}  // namespace
