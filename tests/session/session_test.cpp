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

// What a conversation gave: its outcome and its lines, or the listing's logs.
struct Said {
    Outcome outcome;
    std::vector<std::string> lines;
    bool log = false;  // the lines of a log
};

// One conversation on a worker thread, as the window runs it.
class ConversationThread : public TThread {
public:
    explicit ConversationThread(const std::function<Said()>& talk) : TThread(true), talk_(talk) {
        FreeOnTerminate = false;
    }
    Said result;
    std::exception_ptr error;

protected:
    void Execute() override {
        try {
            result = talk_();
        } catch (...) {
            error = std::current_exception();
        }
    }
    std::function<Said()> talk_;
};

// Runs one conversation; the port is closed after it, however it ended.
Said Converse(const std::function<Said()>& talk) {
    ConversationThread run(talk);
    run.Resume();
    EXPECT_TRUE(TThread::WaitForAll(std::chrono::seconds(20)));
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
fatdss_t Entry(const krx3sim::Log& log) {
    fatdss_t e;
    xfnd(log.start_code + " " + log.stop_code, &e);
    return e;
}
Said Deleted(const Deletion& d) { return {d.outcome, {d.reply}}; }

// Each pause is noted with the number of commands the device had by then.
TEST(Session, EachConversationSendsItsCommandsWithItsPauses) {
    krx3sim::Simulator sim(krx3sim::SampleLogs(3, 40));
    const auto logs = sim.Logs();
    const std::string port = sim.PortPath(), name = logs[1].start_code;
    const fatdss_t entry = Entry(logs[1]);
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
        EXPECT_TRUE(s.outcome.Whole() && s.outcome.sent && s.outcome.answered);
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
    EXPECT_THROW(
        Converse([&] { return Deleted(DeleteLog(port, name, [](int) { throw std::runtime_error("closed"); })); }),
        std::runtime_error);
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
    const auto sample = krx3sim::SampleLogs(3, 40);
    // Listed out of order, beside lines that are not logs.
    const std::vector<krx3sim::Log> unordered = {sample[2], sample[0], sample[1]};
    krx3sim::Behaviour normal, silent, hangs_in_log, hangs_in_preamble, endless, refuses, late, later, slow, last_late,
        long_pause, unended, late_listing;
    normal.extra_list_lines = {"fs: 3 files", std::string("\x01junk", 5)};
    silent.silent = true;
    hangs_in_log.close_after_bytes = 200;
    hangs_in_preamble.close_after_bytes = 1;  // one byte of "md mach"'s answer
    endless.endless_reply = true;
    refuses.keep_on_delete = true;
    refuses.del_reply = "err: locked";
    late.delay_before_reply = std::chrono::milliseconds(300);  // each answer after its exchange's idle budget
    later.delay_before_reply = std::chrono::milliseconds(800);
    slow.delay_before_reply = std::chrono::milliseconds(120);  // "md mach" and "fs stop" answered after krx_cmd gave up
    last_late.pause_before_line = 39;                          // the last of 40 lines, after 1 s
    last_late.line_pause = std::chrono::milliseconds(1000);
    long_pause.pause_before_line = 20;  // past the patience: the rest comes after the port is closed
    long_pause.line_pause = std::chrono::milliseconds(6000);
    unended.last_line_unended = true;
    late_listing.list_delay = std::chrono::milliseconds(2500);  // after the listing's 2 s wait for its first byte
    const fatdss_t a = Entry(sample[0]);
    fatdss_t unlisted = a, undated = a;
    unlisted.name = "ZZZZZZZ";
    xfnd(sample[0].start_code + " AAAAAAA", &undated);  // its stop is no date: no duration to count from
    struct Case {
        const char* what;
        krx3sim::Behaviour behaviour;
        std::function<Said(const std::string& port)> talk;
        Ending kind;
        bool answered, sent;
        std::size_t commands;                         // received by the device
        std::size_t lines;                            // that came (a listing: its logs)
        bool timing = false;                          // a row of a device late or pausing: run by its own test
        std::chrono::milliseconds tail = kTailQuiet;  // the quiet a reply not known to be whole must keep
    };
    const auto read = [](const fatdss_t& log) {
        return [log](const std::string& p) { return Read(ReadLog(p, log, {})); };
    };
    const auto list = [](const std::string& p) { return Listed(ListLogs(p)); };
    const auto del = [&](const std::string& p) { return Deleted(DeleteLog(p, a.name)); };
    const Case cases[] = {
        {"a listing", normal, list, Ending::Done, true, true, 3, 3},
        {"a log", normal, read(a), Ending::Done, true, true, 3, 40},
        {"a delete", normal, del, Ending::Done, true, true, 3, 1},
        {"a log the device has not", normal, read(unlisted), Ending::NoLines, true, true, 3, 0},
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
        {"the same pause while the line is listened to", long_pause, read(a), Ending::Cut, true, true, 3, 20, true,
         std::chrono::seconds(10)},
        {"a last line without its line end", unended, read(a), Ending::Unended, true, true, 3, 40, true},
        {"a log whose listing gives no duration", normal, read(undated), Ending::Short, true, true, 3, 40, true},
        {"a listing that begins after its wait", late_listing, list, Ending::NoLines, true, true, 3, 0, true},
        {"the same listing while the line is listened to", late_listing, list, Ending::Cut, true, true, 3, 0, true,
         std::chrono::seconds(10)},
        {"a stop during a log", normal,
         [&](auto p) { return Read(ReadLog(p, a, [](int lines, std::size_t) { StopConversations(lines == 5); })); },
         Ending::Stopped, true, true, 3, 6},
    };
    for (const Case& c : cases) {
        if (c.timing != timing) continue;
        SCOPED_TRACE(c.what);
        krx3sim::Simulator sim(unordered);
        sim.SetBehaviour(c.behaviour);
        ExchangeBounds bounds = DefaultExchangeBounds();
        bounds.slt_bytes = 20000;
        bounds.tail = c.tail;
        SetExchangeBounds(bounds);
        StopConversations(false);
        const Said s = Converse([&] { return c.talk(sim.PortPath()); });
        StopConversations(false);
        EXPECT_EQ(s.outcome.kind, c.kind);
        EXPECT_EQ(s.outcome.answered, c.answered);
        EXPECT_EQ(s.outcome.sent, c.sent);
        EXPECT_EQ(s.outcome.Broken(), c.kind == Ending::LineLost || c.kind == Ending::Cut);
        EXPECT_EQ(s.outcome.error.Failed() && !s.outcome.error.text.empty(), c.kind == Ending::LineLost);
        // Every line that came is the log's own, in its order: no answer to
        // another command, nothing of a listing.
        for (std::size_t i = 0; s.log && i < s.lines.size() && i < sample[0].lines.size(); ++i)
            ASSERT_EQ(s.lines[i], sample[0].lines[i].substr(0, s.lines[i].size())) << "line " << i;
        if (s.log) {
            EXPECT_EQ(s.outcome.lines, static_cast<long>(s.lines.size()));
        }
        if (c.kind == Ending::Cut && c.tail == kTailQuiet) {
            EXPECT_GT(s.lines.size(), 100u);
        } else if (c.kind == Ending::LineLost) {
            EXPECT_LT(s.lines.size(), 40u);
        } else {
            EXPECT_EQ(s.lines.size(), c.lines);
        }
        ASSERT_TRUE(sim.WaitForCommands(c.commands, std::chrono::seconds(5)));
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
    const auto sample = krx3sim::SampleLogs(3, 40);
    const std::vector<krx3sim::Log> unordered = {sample[2], sample[0], sample[1]};
    std::vector<std::string> listed;
    for (const auto& log : sample) listed.push_back(log.start_code);
    krx3sim::Behaviour normal;
    normal.extra_list_lines = {"fs: 3 files", std::string("\x01junk", 5)};
    const std::string missing = "ZZZZZZZ";
    const fatdss_t a = Entry(sample[0]);

    // A listing: the logs earliest first, each with its file name, the other
    // lines apart; and what it says of a log a delete was sent for.
    krx3sim::Simulator sim(unordered);
    sim.SetBehaviour(normal);
    const std::string port = sim.PortPath();
    const Listing l = ListLogs(port);
    std::vector<std::string> names;
    for (const fatdss_t& e : l.logs) names.push_back(e.name);
    EXPECT_EQ(names, listed);
    EXPECT_EQ(l.other, normal.extra_list_lines);
    ASSERT_EQ(l.log_lines.size(), 3u);
    EXPECT_EQ(l.log_lines[0], sample[0].start_code + " " + sample[0].stop_code);
    EXPECT_EQ(l.logs[0].file, file_name(l.logs[0].start));
    EXPECT_EQ(l.AfterDeleting(a.name), Listing::AfterDelete::StillListed);
    EXPECT_EQ(l.AfterDeleting(missing), Listing::AfterDelete::Gone);
    for (const Ending failed : {Ending::Cut, Ending::DeviceSilent, Ending::PortNotOpened}) {
        Listing after = l;
        after.outcome.kind = failed;
        EXPECT_EQ(after.AfterDeleting(missing), Listing::AfterDelete::NotKnown) << static_cast<int>(failed);
    }

    // A port that does not open: the system's code and its text.
    const Outcome none = Converse([] { return Listed(ListLogs(MissingPort())); }).outcome;
    EXPECT_EQ(none.kind, Ending::PortNotOpened);
    EXPECT_TRUE(IsNotThere(none.error)) << none.error.code;
    EXPECT_EQ(none.error.text, MissingPortReason());
    EXPECT_EQ(none.Reason(), MissingPortReason());
}

// A log holds a line every 2 s and one at each end; without a duration to
// count from, no number of lines makes it whole.
TEST(Session, TheLinesALogHoldsFollowFromItsDuration) {
    const std::pair<const char*, long> cases[] = {
        {"EBQNYWG EBQNYWG", 1},                             // one record, at its start and stop
        {"EBQNYWG EBQNYWH", 2}, {"EBQNYWG EBQOCEZ", 1996},  // 3990 s
        {"EBQNYWH EBQNYWG", 0},                             // a stop before the start
        {"EBQNYWG AAAAAAA", 0},                             // a stop that is no date
    };
    for (const auto& [line, lines] : cases) {
        fatdss_t e;
        xfnd(line, &e);
        EXPECT_EQ(ExpectedLines(e), lines) << line;
        if (lines > 0) {
            EXPECT_EQ(ProgressMaximum(e.dur), lines - 1) << "the bar is full at the last line";
        }
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
    EXPECT_NE(advice.find("\"" + group + "\""), std::string::npos) << advice;
    EXPECT_NE(advice.find("sudo usermod -aG " + group + " "), std::string::npos) << advice;
    EXPECT_NE(advice.find("plug it in again"), std::string::npos) << advice;
    EXPECT_EQ(OpenFailureAdvice("/dev/null", SystemErrorOf(EACCES)), "");
    EXPECT_EQ(OpenFailureAdvice(path, SystemErrorOf(ENOENT)), "");
    ::unlink(path);
}
#endif

}  // namespace
