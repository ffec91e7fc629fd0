// The device conversations against the simulated device, on a worker thread
// as the window runs them: the commands, their pauses, and how each
// conversation ended, decided here for every front end. What the device
// received, and when, is what it recorded.
#include "session/session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "link/exchange.h"
#include "link/serial.h"
#include "sim/simulator.h"
#include "tests/support/platform_support.h"
#include "ui/thread/tthread.h"

#if defined(__linux__)
#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace std::chrono_literals;

// What a conversation gave: its outcome and its lines, or the listing's logs.
struct Said {
    Outcome outcome;
    std::vector<std::string> lines;
    bool log = false;  // the lines of a log
};

// One conversation on a worker thread, as the window runs it.
struct ConversationThread : TThread {
    ConversationThread(const std::function<Said()>& talk) : TThread(true), talk(talk) { FreeOnTerminate = false; }
    void Execute() override {
        try {
            result = talk();
        } catch (...) {
            error = std::current_exception();
        }
    }
    std::function<Said()> talk;
    Said result;
    std::exception_ptr error;
};

// Runs one conversation; the port is closed after it, however it ended.
Said Converse(const std::function<Said()>& talk) {
    ConversationThread run(talk);
    run.Resume();
    EXPECT_TRUE(TThread::WaitForAll(20s));
    if (run.error) std::rethrow_exception(run.error);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE) << "the port stays open after the conversation";
    return run.result;
}

Said Listed(const Listing& l) {
    Said s{l.outcome, {}};
    for (const fatdss_t& e : l.logs) s.lines.push_back(e.name + " " + e.file);
    return s;
}
Said Read(const LogRead& r) { return {r.outcome, r.lines.Lines(), true}; }

// A log as the listing gives it: its name and its duration.
fatdss_t Decode(const std::string& line) {
    fatdss_t e;
    xfnd(line, &e);
    return e;
}
fatdss_t Entry(const krx3sim::Log& log) { return Decode(log.start_code + " " + log.stop_code); }
Said Deleted(const Deletion& d) { return {d.outcome, {d.reply}}; }

// A device behaving as the usual one does, but for one field set to `value`.
using B = krx3sim::Behaviour;
template <class T, class V>
B With(T B::*field, V value, B b = {}) {
    b.*field = value;
    return b;
}

// Three logs listed out of order, beside lines that are not logs.
const std::vector<krx3sim::Log> kSample = krx3sim::SampleLogs(3, 40);
const std::vector<krx3sim::Log> kUnordered = {kSample[2], kSample[0], kSample[1]};
const B kNormal = With(&B::extra_list_lines, std::vector<std::string>{"fs: 3 files", std::string("\x01junk", 5)});

// Each pause is noted with the number of commands the device had by then.
TEST(Session, EachConversationSendsItsCommandsWithItsPauses) {
    krx3sim::Simulator sim(kSample);
    const std::string port = sim.PortPath(), name = kSample[1].start_code;
    const fatdss_t entry = Entry(kSample[1]);
    std::string pauses;
    const Pause noted = [&](int ms) {
        pauses += std::to_string(sim.Commands().size()) + ":" + std::to_string(ms) + " ";
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    int calls = 0;
    const Progress count = [&](int, std::size_t) { ++calls; };
    // The conversation, its command, its pauses (the last one the least time
    // from "fs stop" to the command).
    const std::tuple<std::function<Said()>, std::string, std::string, int> cases[] = {
        {[&] { return Listed(ListLogs(port, noted)); }, "fs list", "0:100 2:100 ", 100},
        {[&] { return Read(ReadLog(port, entry, count, noted)); }, "fs read " + name, "0:100 ", 0},
        {[&] { return Deleted(DeleteLog(port, name, noted)); }, "fs del " + name, "2:500 ", 500},
    };
    for (const auto& [talk, command, paused, gap] : cases) {
        SCOPED_TRACE(command);
        sim.ClearCommands();
        pauses.clear();
        const Said s = Converse(talk);
        EXPECT_EQ(pauses, paused);
        const auto commands = sim.Commands();
        ASSERT_EQ(commands.size(), 3u);
        EXPECT_EQ(commands[0].text + ", " + commands[1].text + ", " + commands[2].text, "md mach, fs stop, " + command);
        EXPECT_GE(commands[2].arrived - commands[1].arrived, std::chrono::milliseconds(gap));
    }
    EXPECT_EQ(calls, 40);
    EXPECT_EQ(sim.Logs().size(), 2u);
    // A window that closes during the pause before a delete: the worker's
    // pause throws, and no delete is sent.
    sim.ClearCommands();
    const Pause closing = [](int) { throw std::runtime_error("closed"); };
    EXPECT_THROW(Converse([&] { return Deleted(DeleteLog(port, name, closing)); }), std::runtime_error);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE) << "the port stays open after the conversation";
    EXPECT_EQ(sim.Commands().size(), 2u) << "a delete was sent";
}

// How each conversation ends, from a device that behaves and from each way
// one does not: what came, the kind of end, whether the device said anything
// and whether the conversation's own command went out, and the commands the
// device received (after a fault in the preamble, none more). `timing`: the
// rows of a device that answers late or pauses (a test of their own, as
// they take their time).
void RunRows(bool timing) {
    // hangs_in_preamble: after one byte of "md mach"'s answer. late: each
    // answer after its exchange's idle budget. slow: "md mach" and "fs stop"
    // answered after krx_cmd gave up. last_late: the last of 40 lines, after
    // 1 s. long_pause: past the patience, the rest comes after the port is
    // closed. late_listing: after the listing's 2 s wait for its first byte.
    const B silent = With(&B::silent, true), hangs_in_log = With(&B::close_after_bytes, 200),
            hangs_in_preamble = With(&B::close_after_bytes, 1), endless = With(&B::endless_reply, true),
            refuses = With(&B::keep_on_delete, true, With(&B::del_reply, "err: locked")),
            late = With(&B::delay_before_reply, 300ms), later = With(&B::delay_before_reply, 800ms),
            slow = With(&B::delay_before_reply, 120ms),
            last_late = With(&B::pause_before_line, 39, With(&B::line_pause, 1000ms)),
            long_pause = With(&B::pause_before_line, 20, With(&B::line_pause, 6000ms)),
            unended = With(&B::last_line_unended, true), late_listing = With(&B::list_delay, 2500ms);
    const fatdss_t a = Entry(kSample[0]);
    fatdss_t unlisted = a, undated = a;
    unlisted.name = "ZZZZZZZ";
    xfnd(kSample[0].start_code + " AAAAAAA", &undated);  // its stop is no date: no duration to count from
    struct Case {
        const char* what;
        krx3sim::Behaviour behaviour;
        std::function<Said(const std::string& port)> talk;
        Ending kind;
        bool answered, sent;
        std::size_t commands, lines;                  // received by the device; that came (a listing: its logs)
        bool timing = false;                          // a row of a device late or pausing: run by its own test
        std::chrono::milliseconds tail = kTailQuiet;  // the quiet a reply not known to be whole must keep
    };
    const auto read = [](const fatdss_t& log) {
        return [log](const std::string& p) { return Read(ReadLog(p, log, {})); };
    };
    const auto list = [](const std::string& p) { return Listed(ListLogs(p)); };
    const auto del = [&](const std::string& p) { return Deleted(DeleteLog(p, a.name)); };
    const Case cases[] = {
        {"a listing", kNormal, list, Ending::Done, true, true, 3, 3},
        {"a log", kNormal, read(a), Ending::Done, true, true, 3, 40},
        {"a delete", kNormal, del, Ending::Done, true, true, 3, 1},
        {"a log the device has not", kNormal, read(unlisted), Ending::NoLines, true, true, 3, 0},
        {"a silent device", silent, read(a), Ending::DeviceSilent, false, true, 3, 0},
        {"a silent device, listed", silent, list, Ending::DeviceSilent, false, true, 3, 0},
        {"a hang-up in the log", hangs_in_log, read(a), Ending::LineLost, true, true, 3, 7},
        {"a hang-up in the preamble", hangs_in_preamble, list, Ending::LineLost, true, false, 1, 0},
        {"a reply cut at its bound", endless, read(a), Ending::Cut, true, true, 3, 0},
        {"a log from a device slow to answer the preamble", slow, read(a), Ending::Done, true, true, 3, 40},
        {"a log, every answer 0.3 s late", late, read(a), Ending::Done, true, true, 3, 40, true},
        {"a log, every answer 0.8 s late", later, read(a), Ending::Done, true, true, 3, 40, true},
        {"a listing, every answer 0.8 s late", later, list, Ending::Done, true, true, 3, 3, true},
        {"a delete answered late", later, del, Ending::Done, true, true, 3, 1, true},
        {"a refused delete", refuses, del, Ending::Done, true, true, 3, 1},
        {"a 1 s pause before a log's last line", last_late, read(a), Ending::Done, true, true, 3, 40, true},
        {"a pause in a log longer than the patience", long_pause, read(a), Ending::Short, true, true, 3, 20, true},
        {"that pause, the line listened to", long_pause, read(a), Ending::Cut, true, true, 3, 20, true, 10s},
        {"a last line without its line end", unended, read(a), Ending::Unended, true, true, 3, 40, true},
        {"a log whose listing gives no duration", kNormal, read(undated), Ending::Short, true, true, 3, 40, true},
        {"a listing that begins after its wait", late_listing, list, Ending::NoLines, true, true, 3, 0, true},
        {"that listing, the line listened to", late_listing, list, Ending::Cut, true, true, 3, 0, true, 10s},
        {"a stop during a log", kNormal,
         [&](auto p) { return Read(ReadLog(p, a, [](int lines, std::size_t) { StopConversations(lines == 5); })); },
         Ending::Stopped, true, true, 3, 6},
    };
    for (const Case& c : cases) {
        if (c.timing != timing) continue;
        SCOPED_TRACE(c.what);
        krx3sim::Simulator sim(kUnordered);
        sim.SetBehaviour(c.behaviour);
        ExchangeBounds bounds = DefaultExchangeBounds();
        bounds.slt_bytes = 20000;
        bounds.tail = c.tail;
        SetExchangeBounds(bounds);
        const Said s = Converse([&] { return c.talk(sim.PortPath()); });
        StopConversations(false);
        EXPECT_EQ(std::make_tuple(static_cast<int>(s.outcome.kind), s.outcome.answered, s.outcome.sent),
                  std::make_tuple(static_cast<int>(c.kind), c.answered, c.sent));
        EXPECT_EQ(s.outcome.Broken(), c.kind == Ending::LineLost || c.kind == Ending::Cut);
        EXPECT_EQ(s.outcome.error.Failed() && !s.outcome.error.text.empty(), c.kind == Ending::LineLost);
        // Every line that came is the log's own, in its order: no answer to
        // another command, nothing of a listing.
        for (std::size_t i = 0; s.log && i < s.lines.size() && i < kSample[0].lines.size(); ++i)
            ASSERT_EQ(s.lines[i], kSample[0].lines[i].substr(0, s.lines[i].size())) << "line " << i;
        EXPECT_TRUE(!s.log || s.outcome.lines == static_cast<long>(s.lines.size())) << s.outcome.lines;
        // A reply cut at its bound brings more than 100 lines, a lost line
        // fewer than 40; every other end the row's number.
        const bool cut = c.kind == Ending::Cut && c.tail == kTailQuiet;
        const std::size_t n = s.lines.size();
        EXPECT_TRUE(cut ? n > 100 : c.kind == Ending::LineLost ? n < 40 : n == c.lines) << n;
        ASSERT_TRUE(sim.WaitForCommands(c.commands, 5s));
        EXPECT_EQ(sim.Commands().size(), c.commands);
    }
    SetExchangeBounds(DefaultExchangeBounds());
}

// A device that answers late is waited for, a pause inside a log is ridden
// out up to the patience, and a read that is not proven whole says so; no
// line of anything else is ever one of a log's.
TEST(Session, ALateOrPausingDeviceIsWaitedForOrTold) { RunRows(true); }

TEST(Session, EachWayAConversationEndsIsDecidedOnce) {
    RunRows(false);

    // A listing: the logs earliest first, each with its file name, the other
    // lines apart; and what it says of a log a delete was sent for.
    krx3sim::Simulator sim(kUnordered);
    sim.SetBehaviour(kNormal);
    const Listing l = ListLogs(sim.PortPath());
    std::vector<std::string> listed, lines;
    for (const auto& log : kSample) lines.push_back(log.start_code + " " + log.stop_code);
    for (const auto& log : kSample) listed.push_back(log.start_code + " " + file_name(Entry(log).start));
    EXPECT_EQ(Listed(l).lines, listed);
    EXPECT_EQ(l.log_lines, lines);
    EXPECT_EQ(l.other, kNormal.extra_list_lines);
    EXPECT_EQ(l.AfterDeleting(kSample[0].start_code), Listing::AfterDelete::StillListed);
    EXPECT_EQ(l.AfterDeleting("ZZZZZZZ"), Listing::AfterDelete::Gone);
    for (const Ending failed : {Ending::Cut, Ending::DeviceSilent, Ending::PortNotOpened}) {
        Listing after = l;
        after.outcome.kind = failed;
        EXPECT_EQ(after.AfterDeleting("ZZZZZZZ"), Listing::AfterDelete::NotKnown) << static_cast<int>(failed);
    }

    // A port that does not open: the system's code and its text.
    const Outcome none = Converse([] { return Listed(ListLogs(MissingPort())); }).outcome;
    EXPECT_EQ(none.kind, Ending::PortNotOpened);
    EXPECT_TRUE(IsNotThere(none.error)) << none.error.code;
    EXPECT_EQ(none.Reason(), MissingPortReason());
}

// A log holds a line every 2 s and one at each end; without a duration to
// count from, no number of lines makes it whole.
TEST(Session, TheLinesALogHoldsFollowFromItsDuration) {
    // One record, at its start and stop; two; 3990 s; a stop before the
    // start; a stop that is no date.
    const std::pair<const char*, long> cases[] = {
        {"EBQNYWG EBQNYWG", 1}, {"EBQNYWG EBQNYWH", 2}, {"EBQNYWG EBQOCEZ", 1996},
        {"EBQNYWH EBQNYWG", 0}, {"EBQNYWG AAAAAAA", 0},
    };
    for (const auto& [line, lines] : cases) {
        const fatdss_t e = Decode(line);
        EXPECT_EQ(ExpectedLines(e), lines) << line;
        EXPECT_TRUE(lines == 0 || ProgressMaximum(e.dur) == lines - 1) << "the bar is not full at the last line";
    }
}

#if defined(__linux__)
// A node of a group other than root's ("dialout" where this user may give
// the file to it, as root may): the advice names the group and the command.
// It is keyed on the code, not on the text (a system in another language).
// Adding a user to root's group (/dev/null's) is no advice, nor is any for
// another reason.
TEST(OpenFailureAdvice, NamesTheNodesGroupAndTheCommandOnlyForPermissionDenied) {
    char path[] = "/tmp/krx3-ttyXXXXXX";
    ::close(::mkstemp(path));
    const group* dialout = ::getgrnam("dialout");
    const bool given = dialout && ::chown(path, static_cast<uid_t>(-1), dialout->gr_gid) == 0;
    struct stat st {};
    ASSERT_EQ(::stat(path, &st), 0);
    if (st.st_gid == 0) GTEST_SKIP() << "the node stays in root's group; given to dialout: " << given;
    const std::string group = ::getgrgid(st.st_gid)->gr_name;
    const std::string advice = OpenFailureAdvice(path, SystemError{EACCES, "Permission non accordée"});
    for (const std::string& part :
         {"\"" + group + "\"", "sudo usermod -aG " + group + " ", std::string("plug it in again")})
        EXPECT_NE(advice.find(part), std::string::npos) << advice;
    EXPECT_EQ(OpenFailureAdvice("/dev/null", SystemErrorOf(EACCES)), "");
    EXPECT_EQ(OpenFailureAdvice(path, SystemErrorOf(ENOENT)), "");
    ::unlink(path);
}
#endif

}  // namespace
