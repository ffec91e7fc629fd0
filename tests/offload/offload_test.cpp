// Keeping a log in a folder: it goes into a new file; whatever stands at its
// name stays as it was, and what was found there is told apart, with the
// system's reason where there is one.
#include "offload/offload.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <map>
#include <tuple>

#include "logfile/logfile.h"
#include "offload/record.h"
#include "offload/watch.h"
#include "sim/simulator.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "link/serial_os.h"
#endif

namespace {

using Result = Keeping::Result;

TEST(Offload, KeepsALogAsANewFileOnly) {
    const std::vector<std::string> lines = {"first log", std::string("x\0\xE9", 3)};
    const QByteArray bytes("first log\r\nx\0\xE9\r\n", 16);
    enum Before { kNothing, kSame, kOther, kFolder, kNoFolder, kPipe };
    // What stands at the name before, the result, the name's bytes after
    // (empty: no file).
    const std::tuple<Before, Result, QByteArray> cases[] = {
        {kNothing, Result::Saved, bytes},  {kSame, Result::AlreadyThere, bytes}, {kOther, Result::OtherContent, "kept"},
        {kFolder, Result::Unreadable, ""}, {kNoFolder, Result::Failed, ""},
#ifndef _WIN32
        {kPipe, Result::Unreadable, ""},  // opened, it would wait for a writer for ever
#endif
    };
    for (const auto& [before, result, after] : cases) {
        SCOPED_TRACE(before);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(before == kNoFolder ? "none/x.log" : "x.log");
        QFile file(path);
        if (before == kSame || before == kOther) {
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(before == kSame ? bytes : "kept") > 0);
            file.close();
        }
        ASSERT_TRUE(before != kFolder || QDir(tmp.path()).mkdir("x.log"));
#ifndef _WIN32
        ASSERT_TRUE(before != kPipe || ::mkfifo(path.toLocal8Bit().constData(), 0600) == 0);
#endif
        const Keeping k = KeepNew(path, lines);
        EXPECT_EQ(k.result, result);
        EXPECT_EQ(k.error.empty(), result != Result::Unreadable && result != Result::Failed) << k.error;
        if (before != kPipe) {
            EXPECT_EQ(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), after);
        }
    }
}

}  // namespace

// A serial number from the scan becomes one folder inside DIR, whatever it
// holds: never a path out of DIR, never DIR itself.
TEST(Offload, ALoggersFolderIsOneNameInsideTheFolder) {
    const std::pair<std::string, QString> cases[] = {
        {"FT5ZJ1AB", "FT5ZJ1AB"},
        {"", "no-serial"},
        {"..", "__"},
        {".", "_"},
        {"a/../b", "a_.._b"},
        {"C:\\x y", "C__x_y"},
        {"é", "__"},
        {"v1.2-x_y", "v1.2-x_y"},
        // Names Windows maps elsewhere or cannot make.
        {"...", "___"},
        {"AB12.", "AB12_"},
        {"AB12 ", "AB12_"},
        {"CON", "_CON"},
        {"nul", "_nul"},
        {"Com1", "_Com1"},
        {"LPT9.x", "_LPT9.x"},
        {"aux.", "aux_"},
        {"COM10", "COM10"},
        {"CONSOLE", "CONSOLE"},
        {"PRN.2", "_PRN.2"},
    };
    for (const auto& [serial, name] : cases) {
        SCOPED_TRACE(serial);
        EXPECT_EQ(LoggerFolder("/logs", serial), "/logs/" + name);
    }
}

// A log counts as pulled only when the folder's record names it with its
// copy's name and the copy still holds the bytes of the recorded digest. A
// line torn by a crash is skipped, and the next entry is written whole.
TEST(Offload, TheRecordKnowsACopyOnlyByItsBytes) {
    fatdss_t log;
    xfnd("EBQNYWG EBQNYWH", &log);
    log.file = file_name(log.start);
    const std::vector<std::string> lines = {"first log", "x"};
    enum Record { kNone, kWhole, kTornAfter, kOtherName };
    const struct {
        const char* what;
        Record record;
        const char* file_after;  // the copy's bytes when the record is read (nullptr: as written)
        bool known;
    } cases[] = {
        {"a copy the record does not name", kNone, nullptr, false},
        {"a recorded copy", kWhole, nullptr, true},
        {"a recorded copy, then a torn line", kTornAfter, nullptr, true},
        {"a recorded copy changed since", kWhole, "first log\r\ny\r\n", false},
        {"a recorded copy removed since", kWhole, "", false},
        {"a record of another file name", kOtherName, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        const QString copy = CopyPath(tmp.path(), log);
        bool existed = true;
        ASSERT_EQ(WriteNewLogFile(copy, lines, &existed), "");
        if (c.record != kNone) {
            ASSERT_EQ(RecordPulled(tmp.path(), log, 2), "");
        }
        QFile record(QDir(tmp.path()).filePath(kRecordName));
        if (c.record == kTornAfter) {
            ASSERT_TRUE(record.open(QIODevice::Append) && record.write("{\"event\":\"pulled\",\"name\":\"EBQ") > 0);
            record.close();
        }
        if (c.record == kOtherName) {
            ASSERT_TRUE(record.open(QIODevice::ReadOnly));
            const QByteArray other = record.readAll().replace(log.file.c_str(), "other.log");
            record.close();
            ASSERT_TRUE(record.open(QIODevice::WriteOnly | QIODevice::Truncate) && record.write(other) > 0);
            record.close();
        }
        if (c.file_after) {
            QFile::remove(copy);
            if (*c.file_after) {
                ASSERT_EQ(WriteNewLogFile(copy, {"first log", "y"}, &existed), "");
            }
        }
        EXPECT_EQ(KnownPulled(ReadRecord(tmp.path()), tmp.path(), log), c.known);
        Listing listing;
        listing.logs = {log};
        std::vector<fatdss_t> there;
        EXPECT_EQ(NotYetIn(listing, tmp.path(), &there).size(), c.known ? 0u : 1u);
        if (c.record == kTornAfter) {
            // An entry after the torn line stands on a line of its own.
            QFile::remove(copy);
            ASSERT_EQ(WriteNewLogFile(copy, {"first log", "y"}, &existed), "");
            ASSERT_EQ(RecordPulled(tmp.path(), log, 2), "");
            EXPECT_TRUE(KnownPulled(ReadRecord(tmp.path()), tmp.path(), log));
        }
    }
}

// A watch files each log under the serial it began with: when another
// adapter turns up under the port's name in the middle of an offload, that
// logger's offload stops before its next log, and nothing more is filed.
TEST(Watch, StopsWhenThePortsAdapterIsNoLongerTheOneItServes) {
    krx3sim::Simulator sim(krx3sim::SampleLogs(2, 5));
    int scans = 0;
    const auto scan = [&] {
        PortScanResult r;
        r.ports = {sim.PortPath()};
        r.serials = {++scans <= 2 ? "AAA" : "BBB"};  // the look, the first log; then another adapter
        return r;
    };
    QTemporaryDir tmp;
    std::vector<WatchEvent::Kind> kinds;
    std::string why;
    WatchOptions options;
    options.dir = tmp.path();
    Watch watch(options, scan, [&](const WatchEvent& e) {
        kinds.push_back(e.kind);
        if (!e.adapter_error.empty()) why = e.adapter_error;
    });
    std::atomic<bool> stop{false};
    ASSERT_TRUE(watch.Look(stop));
    using K = WatchEvent::Kind;
    EXPECT_EQ(kinds, (std::vector<K>{K::Connected, K::Pulled, K::Failed, K::Done}));
    EXPECT_NE(why.find("no longer this one"), std::string::npos) << why;
    EXPECT_EQ(QDir(LoggerFolder(tmp.path(), "AAA")).entryList(QStringList{"*.log"}, QDir::Files).size(), 1);
    EXPECT_FALSE(QFileInfo::exists(LoggerFolder(tmp.path(), "BBB")));
    EXPECT_TRUE(watch.AnyFailed());
}

#ifndef _WIN32
// A port that does not open at once when its adapter appears (the system may
// still be setting it up) is tried again, and the offload goes ahead once it
// opens: here another program holds it until the watch's first try has
// opened and closed it again.
TEST(Watch, TriesAgainAPortThatDoesNotOpenAtOnce) {
    krx3sim::Simulator sim(krx3sim::SampleLogs(1, 5));
    const com_handle_t holder = serial_os::Open(sim.PortPath(), nullptr);
    ASSERT_NE(holder, INVALID_COM_HANDLE);
    const int tries = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(tries, sim.PortPath().c_str(), IN_CLOSE), 0);
    std::thread release([&] {
        pollfd p{tries, POLLIN, 0};
        ::poll(&p, 1, 60000);
        serial_os::Close(holder);
    });
    QTemporaryDir tmp;
    WatchOptions options;
    options.dir = tmp.path();
    options.open_for = std::chrono::seconds(60);
    options.open_retry = std::chrono::milliseconds(50);
    std::vector<WatchEvent::Kind> kinds;
    const auto scan = [&] {
        PortScanResult r;
        r.ports = {sim.PortPath()};
        r.serials = {"AAA"};
        return r;
    };
    Watch watch(options, scan, [&](const WatchEvent& e) { kinds.push_back(e.kind); });
    std::atomic<bool> stop{false};
    EXPECT_TRUE(watch.Look(stop));
    release.join();
    ::close(tries);
    using K = WatchEvent::Kind;
    EXPECT_EQ(kinds, (std::vector<K>{K::Connected, K::Pulled, K::Done}));
    EXPECT_FALSE(watch.AnyFailed());
}
// A watch serves an adapter once per appearance, into the folder of its
// serial number, and deletes a log only when its copy is proven equal: a
// file of other content at a log's name, a log cut short by the device's
// pause, a port held by another program each leave the log where it is. A
// scan that fails is told once and takes no adapter away.
TEST(Watch, ServesEachAdapterOncePerAppearanceIntoItsFolder) {
    krx3sim::Simulator a(krx3sim::SampleLogs(3, 20)), b(krx3sim::SampleLogs(1, 20)), held(krx3sim::SampleLogs(1, 20)),
        gap(krx3sim::SampleLogs(1, 20));
    krx3sim::Behaviour pauses;  // inside its log, for longer than the patience
    pauses.pause_before_line = 10;
    pauses.line_pause = std::chrono::milliseconds(4000);
    gap.SetBehaviour(pauses);
    const std::vector<krx3sim::Log> logs = a.Logs();
    QTemporaryDir tmp;
    fatdss_t other;
    xfnd(logs[1].start_code + " " + logs[1].stop_code, &other);
    other.file = file_name(other.start);
    bool existed = true;
    ASSERT_TRUE(QDir().mkpath(LoggerFolder(tmp.path(), "A")));
    ASSERT_EQ(WriteNewLogFile(CopyPath(LoggerFolder(tmp.path(), "A"), other), {"other"}, &existed), "");
    PortScanResult scan;
    std::map<std::string, std::string> told;  // each serial's events, in order
    WatchOptions options;
    options.dir = tmp.path();
    options.delete_verified = true;
    options.open_for = std::chrono::milliseconds(0);
    Watch watch(
        options, [&] { return scan; },
        [&](const WatchEvent& e) {
            static const char* const kinds[] = {"connected", "pulled", "unproven",     "already",    "deleted",
                                                "failed",    "done",   "disconnected", "scan failed"};
            std::string& t = told[e.adapter.serial];
            t += std::string(kinds[static_cast<int>(e.kind)]) + (e.log ? " " + e.log->name : "") + ", ";
            if (e.kind == WatchEvent::Kind::Done)
                for (int n : {e.tally.pulled, e.tally.already_there, e.tally.deleted, e.tally.failed, e.tally.unproven})
                    t.insert(t.size() - 2, " " + std::to_string(n));
        });
    const auto plug = [&](const std::vector<std::pair<krx3sim::Simulator*, std::string>>& adapters, long failed = 0) {
        scan = {};
        scan.error = SystemErrorOf(failed);
        for (const auto& [sim, serial] : adapters) {
            scan.ports.push_back(sim->PortPath());
            scan.serials.push_back(serial);
        }
        told.clear();
        std::atomic<bool> stop{false};
        for (int looks = 0; looks < 8 && watch.Look(stop); ++looks) {
        }
        return told;
    };
    const std::string n0 = logs[0].start_code + ", ", n1 = logs[1].start_code + ", ", n2 = logs[2].start_code + ", ";
    using Told = std::map<std::string, std::string>;
    EXPECT_EQ(plug({{&a, "A"}}), (Told{{"A", "connected, pulled " + n0 + "failed " + n1 + "pulled " + n2 + "deleted " +
                                                 n0 + "deleted " + n2 + "done 2 0 2 1 0, "}}));
    ASSERT_EQ(a.Logs().size(), 1u);
    EXPECT_EQ(a.Logs()[0].start_code, logs[1].start_code);
    EXPECT_EQ(plug({}), (Told{{"A", "disconnected, "}}));
    EXPECT_EQ(plug({{&a, "A"}}), (Told{{"A", "connected, failed " + n1 + "done 0 0 0 1 0, "}}));
    // While it stays, nothing is sent to it; B's log shares its name with
    // one of A's, and has its own folder.
    a.ClearCommands();
    const com_handle_t holder = serial_os::Open(held.PortPath(), nullptr);
    ASSERT_NE(holder, INVALID_COM_HANDLE);
    EXPECT_EQ(plug({{&a, "A"}, {&held, "HELD"}, {&b, "B"}, {&gap, "GAP"}}),
              (Told{{"HELD", "failed, done 0 0 0 1 0, "},
                    {"B", "connected, pulled " + n0 + "deleted " + n0 + "done 1 0 1 0 0, "},
                    {"GAP", "connected, unproven " + n0 + "done 0 0 0 0 1, "}}));
    serial_os::Close(holder);
    EXPECT_TRUE(a.Commands().empty());
    EXPECT_TRUE(b.Logs().empty());
    EXPECT_EQ(gap.Logs().size(), 1u) << "a log whose copy is not whole was deleted";
    EXPECT_FALSE(QFileInfo::exists(LoggerFolder(tmp.path(), "HELD")));
    EXPECT_EQ(plug({}, EIO), (Told{{"", "scan failed, "}}));
    EXPECT_EQ(plug({}, EIO), Told{});
    EXPECT_EQ(plug({{&a, "A"}, {&held, "HELD"}, {&b, "B"}, {&gap, "GAP"}}), Told{});
    EXPECT_TRUE(watch.AnyFailed());
}
#endif
