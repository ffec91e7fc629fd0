// Keeping a log in a folder: it goes into a new file; whatever stands at its
// name stays as it was, and what was found there is told apart, with the
// system's reason where there is one.
#include "offload/offload.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
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
        ASSERT_TRUE((before != kSame && before != kOther) ||
                    (file.open(QIODevice::WriteOnly) && file.write(before == kSame ? bytes : "kept") > 0));
        file.close();
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
    // From "..." on, names Windows maps elsewhere or cannot make.
    const std::pair<std::string, QString> cases[] = {
        {"FT5ZJ1AB", "FT5ZJ1AB"}, {"", "no-serial"},      {"..", "__"},          {".", "_"},
        {"a/../b", "a_.._b"},     {"C:\\x y", "C__x_y"},  {"é", "__"},           {"v1.2-x_y", "v1.2-x_y"},
        {"...", "___"},           {"AB12.", "AB12_"},     {"AB12 ", "AB12_"},    {"CON", "_CON"},
        {"nul", "_nul"},          {"Com1", "_Com1"},      {"LPT9.x", "_LPT9.x"}, {"aux.", "aux_"},
        {"COM10", "COM10"},       {"CONSOLE", "CONSOLE"}, {"PRN.2", "_PRN.2"}};
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
        fatdss_t recorded = log;  // the log as the record names it, with a copy of the same bytes
        if (c.record == kOtherName) recorded.file = "other.log";
        bool existed = true;
        ASSERT_EQ(WriteNewLogFile(copy, lines, &existed), "");
        ASSERT_TRUE(c.record != kOtherName || WriteNewLogFile(CopyPath(tmp.path(), recorded), lines, &existed).empty());
        ASSERT_TRUE(c.record == kNone || RecordPulled(tmp.path(), recorded, 2).empty());
        QFile record(QDir(tmp.path()).filePath(kRecordName));
        ASSERT_TRUE(c.record != kTornAfter ||
                    (record.open(QIODevice::Append) && record.write("{\"event\":\"pulled\",\"name\":\"EBQ") > 0));
        record.close();
        if (c.file_after) QFile::remove(copy);
        ASSERT_TRUE(!c.file_after || !*c.file_after || WriteNewLogFile(copy, {"first log", "y"}, &existed).empty());
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
            const RecordContents r = ReadRecordContents(tmp.path());
            EXPECT_EQ(r.torn, 1);
            EXPECT_EQ(r.entries.size(), 2u);
        }
    }
}

#ifndef _WIN32
// A watch serves an adapter once per appearance, into the folder of its
// serial number, and deletes a log only when its copy is proven equal: a
// file of other content at a log's name, a log cut short by the device's
// pause, a port held by another program each leave the log where it is. A
// port that does not open at once (the system may still be setting it up) is
// tried again. A scan that fails is told once and takes no adapter away. Each
// log is filed under the serial it began with: when another adapter turns up
// under the port's name in the middle of an offload, that offload stops
// before its next log. Adapters are served side by side: one that hangs up
// holds up no other. Each folder's record holds what was taken and what
// failed, with the digest a delete was checked against.
TEST(Watch, ServesEachAdapterOncePerAppearanceIntoItsFolder) {
    krx3sim::Simulator a(krx3sim::SampleLogs(3, 20)), b(krx3sim::SampleLogs(1, 20)), held(krx3sim::SampleLogs(1, 20)),
        gap(krx3sim::SampleLogs(1, 20)), c(krx3sim::SampleLogs(2, 20)), drops(krx3sim::SampleLogs(1, 20));
    krx3sim::Behaviour hangs_up;  // in the middle of its log
    hangs_up.close_after_bytes = 200;
    drops.SetBehaviour(hangs_up);
    krx3sim::Behaviour pauses;  // inside its log, for longer than the patience
    pauses.pause_before_line = 10;
    pauses.line_pause = std::chrono::milliseconds(4000);
    gap.SetBehaviour(pauses);
    const std::vector<krx3sim::Log> logs = a.Logs();
    QTemporaryDir tmp;
    // A's folder holds a file of other content at the name of A's second log.
    const QString other = QString::fromStdString(file_name(fatdt_of(code_value(logs[1].start_code))));
    bool existed = true;
    ASSERT_TRUE(QDir().mkpath(LoggerFolder(tmp.path(), "A")));
    ASSERT_EQ(WriteNewLogFile(QDir(LoggerFolder(tmp.path(), "A")).filePath(other), {"other"}, &existed), "");
    PortScanResult scan;
    int same_for = 0;  // counted down by each scan: from the one that makes it 0, the first adapter is "D"
    std::map<std::string, std::string> told;  // each serial's events, in order
    std::vector<std::string> order;           // every event as "SERIAL kind", in order
    WatchOptions options;
    options.dir = tmp.path();
    options.delete_verified = true;
    options.open_for = std::chrono::seconds(2);
    Watch watch(
        options,
        [&] {
            if (same_for > 0 && --same_for == 0) scan.serials[0] = "D";
            return scan;
        },
        [&](const WatchEvent& e) {
            static const char* const kinds[] = {"connected", "pulled", "unproven",     "already",    "deleted",
                                                "failed",    "done",   "disconnected", "scan failed"};
            order.push_back(e.adapter.serial + " " + kinds[static_cast<int>(e.kind)]);
            std::string& t = told[e.adapter.serial];
            t += std::string(kinds[static_cast<int>(e.kind)]) + (e.log ? " " + e.log->name : "") +
                 (e.adapter_error.empty() ? "" : ": " + e.adapter_error) + ", ";
            if (e.kind == WatchEvent::Kind::Done)
                for (int n : {e.tally.pulled, e.tally.already_there, e.tally.deleted, e.tally.failed, e.tally.unproven})
                    t.insert(t.size() - 2, " " + std::to_string(n));
        });
    const auto plug = [&](const std::vector<std::pair<krx3sim::Simulator*, std::string>>& adapters, long failed = 0,
                          int same = 0) {
        scan = {};
        scan.error = SystemErrorOf(failed);
        for (const auto& [sim, serial] : adapters) {
            scan.ports.push_back(sim->PortPath());
            scan.serials.push_back(serial);
        }
        told.clear();
        same_for = same;
        std::atomic<bool> stop{false};
        for (int looks = 0; looks < (same ? 1 : 8) && watch.Look(stop);) ++looks;
        watch.Wait();
        return told;
    };
    const std::string n0 = logs[0].start_code + ", ", n1 = logs[1].start_code + ", ", n2 = logs[2].start_code + ", ";
    using Told = std::map<std::string, std::string>;
    EXPECT_EQ(plug({{&a, "A"}}), (Told{{"A", "connected, pulled " + n0 + "failed " + n1 + "pulled " + n2 + "deleted " +
                                                 n0 + "deleted " + n2 + "done 2 0 2 1 0, "}}));
    EXPECT_TRUE(watch.AnyFailed());
    std::string recorded, digests[2];
    for (const RecordEntry& e : ReadRecordContents(LoggerFolder(tmp.path(), "A")).entries) {
        recorded += e.event + " " + e.name + (e.reason.empty() ? "" : " " + e.step + " " + e.reason) + ", ";
        if (e.name == logs[0].start_code) digests[e.event == "deleted"] = e.sha256;
    }
    EXPECT_EQ(recorded, "pulled " + n0 + "failed " + logs[1].start_code + " pull other_content, pulled " + n2 +
                            "deleted " + n0 + "deleted " + n2);
    EXPECT_TRUE(digests[0].size() == 64 && digests[0] == digests[1]) << "the delete's digest is not the copy's";
    EXPECT_EQ(plug({}), (Told{{"A", "disconnected, "}}));
    // After C's first log, its port's adapter is D: one look.
    EXPECT_EQ(plug({{&c, "C"}}, 0, 3), (Told{{"C", "connected, pulled " + n0 + "failed: the adapter on " +
                                                       c.PortPath() + " is no longer this one, done 1 0 0 1 0, "}}));
    EXPECT_EQ(plug({{&a, "A"}}),
              (Told{{"A", "connected, failed " + n1 + "done 0 0 0 1 0, "}, {"C", "disconnected, "}}));
    // While it stays, nothing is sent to it; B's log shares its name with
    // one of A's, and has its own folder. B's port is held until the watch's
    // first try has opened and closed it again.
    a.ClearCommands();
    const com_handle_t holder = serial_os::Open(held.PortPath(), nullptr),
                       b_holder = serial_os::Open(b.PortPath(), nullptr);
    ASSERT_TRUE(holder != INVALID_COM_HANDLE && b_holder != INVALID_COM_HANDLE);
    const int tries = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(tries, b.PortPath().c_str(), IN_CLOSE), 0);
    std::thread release([&] {
        pollfd p{tries, POLLIN, 0};
        ::poll(&p, 1, 60000);
        serial_os::Close(b_holder);
    });
    order.clear();
    EXPECT_EQ(plug({{&a, "A"}, {&held, "HELD"}, {&b, "B"}, {&gap, "GAP"}, {&drops, "DROPS"}}),
              (Told{{"HELD", "failed, done 0 0 0 1 0, "},
                    {"B", "connected, pulled " + n0 + "deleted " + n0 + "done 1 0 1 0 0, "},
                    {"GAP", "connected, unproven " + n0 + "done 0 0 0 0 1, "},
                    {"DROPS", "connected, failed " + n0 + "done 0 0 0 1 0, "}}));
    // Side by side: each began before the others ended.
    const auto at = [&](const std::string& event) { return std::find(order.begin(), order.end(), event); };
    for (const char* x : {"B", "GAP", "DROPS"})
        for (const char* y : {"B", "GAP", "DROPS"})
            EXPECT_LT(at(std::string(x) + " connected"), at(std::string(y) + " done")) << x << " after " << y;
    const RecordContents dropped = ReadRecordContents(LoggerFolder(tmp.path(), "DROPS"));
    ASSERT_EQ(dropped.entries.size(), 1u);
    EXPECT_EQ(dropped.entries[0].reason, "line_lost");
    release.join();
    ::close(tries);
    serial_os::Close(holder);
    EXPECT_TRUE(a.Commands().empty());
    EXPECT_FALSE(QFileInfo::exists(LoggerFolder(tmp.path(), "HELD")));
    EXPECT_EQ(plug({}, EIO), (Told{{"", "scan failed, "}}));
    EXPECT_EQ(plug({}, EIO), Told{});
    EXPECT_EQ(plug({{&a, "A"}, {&held, "HELD"}, {&b, "B"}, {&gap, "GAP"}, {&drops, "DROPS"}}), Told{});
    // A listing that fails goes into the folder's record too.
    plug({});
    krx3sim::Behaviour silent;
    silent.silent = true;
    a.SetBehaviour(silent);
    EXPECT_EQ(plug({{&a, "A"}}), (Told{{"A", "connected, failed, done 0 0 0 1 0, "}}));
    const RecordEntry last = ReadRecordContents(LoggerFolder(tmp.path(), "A")).entries.back();
    EXPECT_EQ(last.step + " " + last.reason + " " + last.name, "listing device_silent ");
}
#endif
