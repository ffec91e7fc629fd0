// The .log files on disk: a save writes every byte or says why and leaves the
// name as it was; a new file never replaces one; View Log reads plain files
// of bounded size only, and refuses anything else at once.
#include "logfile/logfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <tuple>

#include "logfile/move_new.h"

#if defined(Q_OS_LINUX)
#include <sys/mount.h>
#include <sys/stat.h>
#endif

namespace {

using Lines = std::vector<std::string>;

// The bytes a .log file holds for `lines`: each line as it is, then CR LF.
QByteArray Bytes(const Lines& lines) {
    QByteArray b;
    for (const std::string& l : lines) b.append(l.data(), static_cast<qsizetype>(l.size())).append("\r\n", 2);
    return b;
}

const std::string kNulAndHigh = std::string("a\0b", 3) + "\x80\xB0\xE9\xFF";

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

// Makes a file of `bytes`, then of `size` bytes; returns its path.
QString Make(const QString& path, const QByteArray& bytes, qint64 size) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.resize(size)) << path.toStdString();
    return path;
}

// Saving over an older log, where the system allows onto a small tmpfs
// filled up to a row's `room`: every byte, or the reason and the older log as
// it was, and never a file left beside.
TEST(LogFile, WritesEveryByteOrNothingAndANewFileReplacesNone) {
    QTemporaryDir tmp;
    const QByteArray where = QFile::encodeName(tmp.path());
#if defined(Q_OS_LINUX)
    const bool small = ::mount("tmpfs", where.constData(), "tmpfs", 0, "size=4m") == 0;
#else
    const bool small = false;
#endif
    const QDir dir(tmp.path());
    ASSERT_TRUE(dir.mkdir("dir"));
    const Lines big(4000, std::string(1000, '4'));
    // Target, lines, room (0: as much as needed), the save succeeds. The save
    // writes pieces of about 1 MiB.
    const std::tuple<QString, Lines, qint64, bool> cases[] = {
        {"a.log", {"", kNulAndHigh, "", "last"}, 0, true},
        {"a.log", Lines(3000, std::string(995, '\xE9')), 0, true},         // several write pieces
        {"dir", {"x"}, 0, false},                                          // the target is a folder
        {"a.log", Lines(700, std::string(1000, '7')), 512 * 1024, false},  // the only write runs short
        {"a.log", big, 1280 * 1024, false},                                // a middle write runs short
    };
    for (const auto& [target, lines, room, ok] : cases) {
        SCOPED_TRACE(target.toStdString() + ", " + std::to_string(lines.size()) + " lines");
        if (room && !small) continue;  // mounting needs root
        for (const char* name : {"ballast", "a.log"}) QFile::remove(dir.filePath(name));
        ASSERT_EQ(WriteLogFile(dir.filePath("a.log"), {"the older log"}), "");
        const qint64 fill = room ? QStorageInfo(dir.path()).bytesAvailable() - room : 0;
        Make(dir.filePath("ballast"), QByteArray(fill, 'b'), fill);
        const std::string reason = WriteLogFile(dir.filePath(target), lines);
        EXPECT_EQ(reason.empty(), ok) << reason;
        EXPECT_TRUE(ok || !room || reason.find(std::strerror(ENOSPC)) != std::string::npos) << reason;
        EXPECT_EQ(Contents(dir.filePath("a.log")), ok ? Bytes(lines) : Bytes({"the older log"}));
    }
    // A new file never replaces one, and leaves nothing beside, also when the
    // disk is full; a comparison finds one byte off.
    const QString path = dir.filePath("new.log");
    const Lines lines = {"one", kNulAndHigh};
    bool existed = true;
    EXPECT_TRUE(WriteNewLogFile(path, lines, &existed).empty() && !existed);
    EXPECT_TRUE(!WriteNewLogFile(path, {"other"}, &existed).empty() && existed);
    EXPECT_TRUE(!small || !WriteNewLogFile(dir.filePath("big.log"), big, &existed).empty());
    EXPECT_EQ(Contents(path), Bytes(lines));
    // A file that appears at the name at the last moment, after the check
    // and before the move, stays as it was: the move itself never replaces.
    const QByteArray theirs("another program's\r\n");
    g_before_move = [&theirs](const QString& to) { Make(to, theirs, theirs.size()); };
    const std::string reason = WriteNewLogFile(dir.filePath("late.log"), lines, &existed);
    g_before_move = nullptr;
    EXPECT_TRUE(!reason.empty() && existed) << reason;
    EXPECT_EQ(Contents(dir.filePath("late.log")), theirs);
    // Every entry, hidden ones too: a temporary file left beside shows.
    // Hidden entries too: a temporary file left beside shows.
    EXPECT_EQ(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).join(" "),
              "a.log ballast dir late.log new.log")
        << "a temporary file was left";
    QString error = "stale";
    EXPECT_TRUE(SameLogFile(path, lines, &error) && error.isEmpty());
    EXPECT_FALSE(SameLogFile(path, {"onf", kNulAndHigh}, &error) || SameLogFile(path, {"one"}, &error));
    EXPECT_FALSE(SameLogFile(dir.filePath("absent.log"), lines, &error) || error.isEmpty());
#if defined(Q_OS_LINUX)
    EXPECT_TRUE(!small || ::umount2(where.constData(), MNT_DETACH) == 0);
#endif
}

// A read that would block (a FIFO opened) ends at the test's time-out.
TEST(LogFile, ReadsPlainFilesOfBoundedSizeAndRefusesTheRestAtOnce) {
    QTemporaryDir dir;
    Lines lines;
    QString error;
    ASSERT_TRUE(ReadLogFile(Make(dir.filePath("exact.log"), {}, kMaxLogFileBytes), &lines, &error));
    EXPECT_TRUE(lines.size() == 1 && lines[0] == std::string(kMaxLogFileBytes, '\0')) << "the bound is read whole";
    const QByteArray mixed = QByteArray("crlf\r\n\r\n") + QByteArray(kNulAndHigh.data(), 7) + "\nlf\r\nno end";
    // The file, and what its refusal says (nullptr: read whole).
    const std::tuple<QString, const char*> cases[] = {
        {Make(dir.filePath("mixed.log"), mixed, mixed.size()), nullptr},
        {dir.path(), "folder"},
        {Make(dir.filePath("big.log"), {}, kMaxLogFileBytes + 1), "larger than 268435456 bytes"},
#if defined(Q_OS_LINUX)
        {::mkfifo(QFile::encodeName(dir.filePath("fifo.log")).constData(), 0600) ? "" : dir.filePath("fifo.log"),
         "not a plain file"},
        {QFile::link(dir.filePath("mixed.log"), dir.filePath("link.log")) ? dir.filePath("link.log") : "", nullptr},
#endif
    };
    for (const auto& [path, refusal] : cases) {
        SCOPED_TRACE(path.toStdString());
        lines = {"left from before"};
        EXPECT_EQ(ReadLogFile(path, &lines, &error), refusal == nullptr);
        EXPECT_TRUE(!refusal || error.contains(refusal, Qt::CaseInsensitive)) << error.toStdString();
        EXPECT_EQ(lines, (refusal ? Lines{"left from before"} : Lines{"crlf", "", kNulAndHigh, "lf", "no end"}));
    }
}

}  // namespace
