// The .log files on disk: a save writes every byte or says why not and leaves
// the name as it was; View Log reads plain files of bounded size only, and
// refuses anything else at once instead of blocking.
#include "logfile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <vector>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(Q_OS_LINUX)
#include <sys/mount.h>
#endif

namespace {

using Lines = std::vector<std::string>;

// The bytes a .log file holds for `lines`: each line as it is, then CR LF.
QByteArray FileBytes(const Lines& lines) {
    QByteArray bytes;
    for (const std::string& line : lines) {
        bytes.append(line.data(), static_cast<qsizetype>(line.size()));
        bytes.append("\r\n", 2);
    }
    return bytes;
}

// `count` lines of `width` bytes each, every byte value but the line ends
// drawn at random, so a byte dropped, added or moved changes the file.
Lines RandomLines(std::size_t count, std::size_t width, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Lines lines(count);
    for (std::string& line : lines) {
        line.resize(width);
        for (char& c : line) {
            int b = byte(random);
            while (b == '\n' || b == '\r') b = byte(random);
            c = static_cast<char>(b);
        }
    }
    return lines;
}

// A line with a NUL in its middle and every byte from 0x80 to 0xFF.
std::string NulAndHighBytes() {
    std::string line("before");
    line.push_back('\0');
    line += "after";
    for (int b = 0x80; b <= 0xFF; ++b) line.push_back(static_cast<char>(b));
    line.push_back('\0');
    return line;
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}

// Every entry of `dir`, hidden ones included (a temporary file left beside
// the target shows here).
QStringList Entries(const QString& dir) {
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// ---------------------------------------------------------------------------
// Saving: the bytes on disk are the lines' bytes, each line ended by CR LF.

struct ExactCase {
    const char* name;
    Lines lines;
};

TEST(LogFileWrite, WritesEveryByteAsGivenAndReadsItBack) {
    const ExactCase cases[] = {
        {"a line holding NUL and bytes 0x80-0xFF", {"first", NulAndHighBytes(), "last"}},
        {"empty lines keep their line ends", {"", "between", "", ""}},
        {"no lines make an empty file", {}},
        // More than one write: the pieces meet without a byte lost or doubled.
        {"a log of several write pieces", RandomLines(3000, 999, 7)},
    };
    for (const ExactCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("exact.log"));

        EXPECT_EQ(WriteLogFile(path, c.lines), "");
        EXPECT_EQ(Contents(path), FileBytes(c.lines));
        EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("exact.log")});

        Lines back{"left from before"};
        QString error;
        EXPECT_TRUE(ReadLogFile(path, &back, &error)) << error.toStdString();
        EXPECT_EQ(back, c.lines);
    }
}

// A save that cannot even begin says why, and makes nothing.
TEST(LogFileWrite, ASaveThatCannotBeginSaysWhyAndMakesNothing) {
    struct Case {
        const char* name;
        const char* target;  // inside a fresh folder that holds only "folder/"
    };
    const Case cases[] = {
        {"the target's folder does not exist", "absent/x.log"},
        {"the target is a folder", "folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));

        EXPECT_NE(WriteLogFile(dir.filePath(QString::fromLatin1(c.target)), {"a line"}), "");
        EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("folder")});
        EXPECT_EQ(Entries(dir.filePath(QStringLiteral("folder"))), QStringList{});
    }
}

// ---------------------------------------------------------------------------
// Saving onto a small full volume: a tmpfs of a fixed size.

#if defined(Q_OS_LINUX)

std::size_t TotalBytes(const Lines& lines) { return static_cast<std::size_t>(FileBytes(lines).size()); }

void Put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << file.errorString().toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class FullVolume : public ::testing::Test {
protected:
    static constexpr std::size_t kVolumeBytes = 1536 * 1024;

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const QByteArray where = QFile::encodeName(dir_.path());
        const std::string options = "size=" + std::to_string(kVolumeBytes);
        if (::mount("tmpfs", where.constData(), "tmpfs", 0, options.c_str()) != 0) {
            GTEST_SKIP() << "cannot mount a " << kVolumeBytes / 1024 << " KiB tmpfs on " << where.constData() << " ("
                         << std::strerror(errno) << "); the full-volume cases need root";
        }
        mounted_ = true;
    }

    void TearDown() override {
        if (mounted_) {
            EXPECT_EQ(::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH), 0) << std::strerror(errno);
        }
    }

    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    QString Dir() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

struct FullCase {
    const char* name;
    qint64 room;     // bytes left free on the volume when the save begins
    bool existing;   // an older log is already under the name
    Lines lines;     // what is saved
};

TEST_F(FullVolume, ASaveThatDoesNotFitLeavesTheNameAsItWas) {
    const std::string noSpace = std::strerror(ENOSPC);
    const QByteArray old = FileBytes({"the older log", NulAndHighBytes()});
    // The save writes in pieces of about 1 MiB (1047 lines of 1000 bytes);
    // `room` and the log's size choose which write runs short. Rooms are
    // whole pages, as tmpfs counts them.
    const qint64 kib = 1024;
    const qint64 firstPiece = 1047 * 1002;
    const qint64 pageAfterFirstPiece = (firstPiece + 4095) / 4096 * 4096 + 4096;
    const FullCase cases[] = {
        // Less than a piece: the only write runs short.
        {"new name, the only write runs short", 512 * kib, false, RandomLines(700, 1000, 1)},
        {"existing log, the only write runs short", 512 * kib, true, RandomLines(700, 1000, 2)},
        // The first piece is written, the last runs short.
        {"new name, the last write runs short", 1280 * kib, false, RandomLines(1800, 1000, 3)},
        {"existing log, the last write runs short", 1280 * kib, true, RandomLines(1800, 1000, 4)},
        // The last piece is small (8 lines) and misses its last few hundred bytes.
        {"new name, a small last write runs short by a few bytes", pageAfterFirstPiece, false,
         RandomLines(1055, 1000, 5)},
        // A write inside the log runs short, and the rest is never written.
        {"new name, a middle write runs short", 1280 * kib, false, RandomLines(4000, 1000, 6)},
        {"new name, fits", 512 * kib, false, RandomLines(250, 1000, 7)},
        {"existing log, replaced by one of two pieces that fits", 1400 * kib, true, RandomLines(1200, 1000, 8)},
    };
    for (const FullCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Path("target.log");
        const QString ballast = Path("ballast.bin");
        QFile::remove(path);
        QFile::remove(ballast);
        QStringList before;
        if (c.existing) {
            Put(path, old);
            before << QStringLiteral("target.log");
        }
        // Fill the volume up to the case's room.
        const qint64 free = QStorageInfo(Dir()).bytesAvailable();
        ASSERT_GE(free, c.room);
        if (free > c.room) {
            Put(ballast, QByteArray(static_cast<qsizetype>(free - c.room), 'b'));
            before << QStringLiteral("ballast.bin");
        }
        ASSERT_EQ(QStorageInfo(Dir()).bytesAvailable(), c.room);
        before.sort();
        ASSERT_EQ(Entries(Dir()), before);
        const bool fits = static_cast<qint64>(TotalBytes(c.lines)) <= c.room;

        const std::string reason = WriteLogFile(path, c.lines);

        if (fits) {
            EXPECT_EQ(reason, "");
            EXPECT_EQ(Contents(path), FileBytes(c.lines));
        } else {
            EXPECT_NE(reason.find(noSpace), std::string::npos) << "reason: \"" << reason << "\"";
            if (c.existing) {
                EXPECT_EQ(Contents(path), old);
            } else {
                EXPECT_FALSE(QFileInfo::exists(path));
            }
        }
        // No temporary file is left beside the target.
        QStringList after = before;
        if (fits && !c.existing) after << QStringLiteral("target.log");
        after.sort();
        EXPECT_EQ(Entries(Dir()), after);
    }
}

#endif  // Q_OS_LINUX

// ---------------------------------------------------------------------------
// Reading: plain files only, bounded, and never blocking.

struct ReadCase {
    const char* name;
    // Makes the thing to read inside `dir`; returns its path ("" = could not
    // be made, which fails the case).
    std::function<QString(const QTemporaryDir& dir)> make;
    bool accepted;
    Lines lines;            // the lines read, when accepted
    QString mention;        // a part of the refusal's reason, when refused
};

// Reads on a thread of its own and gives it 5 s: an open or a read that
// blocks fails the case instead of hanging the run.
struct Outcome {
    bool finished = false;
    bool ok = false;
    Lines lines;
    QString error;
};

Outcome ReadBounded(const QString& path, const std::function<void()>& unblock) {
    auto future = std::async(std::launch::async, [path] {
        Outcome o;
        o.lines = {"left from before"};
        o.ok = ReadLogFile(path, &o.lines, &o.error);
        o.finished = true;
        return o;
    });
    if (future.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return future.get();
    // Blocked: free the reader if the case knows how; else leave the thread
    // to the end of the process rather than wait on it here.
    if (unblock) unblock();
    if (future.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        new std::future<Outcome>(std::move(future));  // not joined: it never ends
    return Outcome{};
}

QString Plain(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return QString();
    return path;
}

QString Sparse(const QTemporaryDir& dir, qint64 size) {
    const QString path = dir.filePath(QStringLiteral("sparse.log"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size)) return QString();
    return path;
}

#if defined(Q_OS_UNIX)
QString LinkTo(const QTemporaryDir& dir, const QString& target) {
    const QString link = dir.filePath(QStringLiteral("link.log"));
    return QFile::link(target, link) ? link : QString();
}

QString Fifo(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("fifo.log"));
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
}
#endif

TEST(LogFileRead, ReadsPlainFilesOfBoundedSizeAndRefusesTheRestAtOnce) {
    [[maybe_unused]] const QString notPlain = QStringLiteral("not a plain file");
    const QString tooLarge = QString::number(kMaxLogFileBytes);
    // Lines ended alternately by CR LF and LF; the last one by nothing.
    const Lines mixed = {"crlf", "", NulAndHighBytes(), "lf", "no end"};
    QByteArray mixedBytes;
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        mixedBytes.append(mixed[i].data(), static_cast<qsizetype>(mixed[i].size()));
        if (i + 1 < mixed.size()) mixedBytes.append(i % 2 ? "\n" : "\r\n");
    }

    const ReadCase cases[] = {
        {"a plain file with CR LF and LF line ends", [&](const QTemporaryDir& d) { return Plain(d, "mixed.log", mixedBytes); },
         true, mixed, {}},
        {"a folder", [](const QTemporaryDir& d) { return d.path(); }, false, {}, QStringLiteral("folder")},
        {"a file one byte over the bound", [](const QTemporaryDir& d) { return Sparse(d, kMaxLogFileBytes + 1); },
         false, {}, tooLarge},
        {"a file of three million empty lines",
         [](const QTemporaryDir& d) { return Plain(d, "ends.log", QByteArray(3 << 20, '\n')); }, false, {},
         QStringLiteral("lines")},
        {"a file that does not exist", [](const QTemporaryDir& d) { return d.filePath(QStringLiteral("absent.log")); },
         false, {}, QStringLiteral("does not exist")},
#if defined(Q_OS_UNIX)
        // (A link on Windows is a shell shortcut, which the file dialog
        // resolves before the program sees the path.)
        {"a link to a plain file",
         [&](const QTemporaryDir& d) { return LinkTo(d, Plain(d, "target.log", mixedBytes)); }, true, mixed, {}},
        {"a FIFO", [](const QTemporaryDir& d) { return Fifo(d); }, false, {}, notPlain},
        {"a link to a FIFO", [](const QTemporaryDir& d) { return LinkTo(d, Fifo(d)); }, false, {}, notPlain},
        {"/dev/null", [](const QTemporaryDir&) { return QStringLiteral("/dev/null"); }, false, {}, notPlain},
        {"/dev/zero", [](const QTemporaryDir&) { return QStringLiteral("/dev/zero"); }, false, {}, notPlain},
        {"a link to /dev/zero", [](const QTemporaryDir& d) { return LinkTo(d, QStringLiteral("/dev/zero")); }, false,
         {}, notPlain},
#endif
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = c.make(dir);
        ASSERT_FALSE(path.isEmpty()) << "the case's file could not be made";

        std::function<void()> unblock;
#if defined(Q_OS_UNIX)
        // A reader blocked in opening a FIFO is freed by a writer that comes and goes.
        unblock = [path] {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        };
#endif
        const Outcome o = ReadBounded(path, unblock);
        if (!o.finished) {
            ADD_FAILURE() << "the read did not return within 5 s";
            continue;
        }
        if (c.accepted) {
            EXPECT_TRUE(o.ok) << o.error.toStdString();
            EXPECT_EQ(o.lines, c.lines);
        } else {
            EXPECT_FALSE(o.ok);
            EXPECT_TRUE(o.error.contains(c.mention, Qt::CaseInsensitive)) << "reason: \"" << o.error.toStdString() << "\"";
            // Compared without printing: a wrongly read file may be huge.
            EXPECT_TRUE(o.lines == Lines{"left from before"})
                << "a refused file changed the lines (" << o.lines.size() << " lines now)";
        }
    }
}

// The largest file the bound allows is read whole: the bound is not one byte short.
TEST(LogFileRead, ReadsAFileOfExactlyTheBound) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = Sparse(dir, kMaxLogFileBytes);
    ASSERT_FALSE(path.isEmpty());
    const Outcome o = ReadBounded(path, nullptr);
    ASSERT_TRUE(o.finished) << "the read did not return within 5 s";
    EXPECT_TRUE(o.ok) << o.error.toStdString();
    ASSERT_EQ(o.lines.size(), 1u);
    EXPECT_EQ(o.lines[0].size(), static_cast<std::size_t>(kMaxLogFileBytes));
    EXPECT_EQ(o.lines[0].find_first_not_of('\0'), std::string::npos);
}

}  // namespace
