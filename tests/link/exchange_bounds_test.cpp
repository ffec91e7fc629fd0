// The bounds that keep a runaway device from holding the caller, hang-ups,
// StopExchanges, and exchanges on a closed port.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "link_fixture.h"
#include "platform_support.h"

using Bounds = LinkTest;

namespace {

krx3sim::Behaviour endless(bool paced = false) {
    krx3sim::Behaviour b;
    b.endless_reply = true;
    b.paced = paced;
    return b;
}

// A sample record is whole when it has its time stamp and its last channel.
bool whole_record(const std::string& l) {
    return l.size() > 30 && l.compare(0, 2, "20") == 0 && l.find(";ch3=") != std::string::npos;
}

}  // namespace

// Records or empty lines: either way the reply stops at the same bound, which
// counts each line's memory beside its bytes.
TEST_F(Bounds, EndlessReplyEndsAtItsByteBound) {
    ExchangeBounds eb = DefaultExchangeBounds();
    eb.slt_bytes = 50000;
    SetExchangeBounds(eb);
    for (const bool empty : {true, false}) {
        SCOPED_TRACE(empty ? "empty lines" : "records");
        if (!empty) {  // a device of its own: the last one is still talking
            CloseCom();
            sim = std::make_unique<krx3sim::Simulator>(krx3sim::SampleLogs(1, 1));
            ASSERT_NE(OpenCom(sim->PortPath()), 0) << OpenComError();
        } else {
            Serve({""});
        }
        Behave(endless());
        TStringList list;
        EXPECT_EQ(slt_cmd("fs read X\r", list, 1, nullptr), ExchangeEnd::Overrun);
        ASSERT_GT(list.Count(), 100);
        std::size_t cost = 0;
        for (const std::string& l : list.Lines()) {
            EXPECT_TRUE(empty ? l.empty() : whole_record(l)) << l;
            cost += l.size() + 1 + kLineCost;
        }
        EXPECT_LE(cost, eb.slt_bytes);
        EXPECT_GT(cost, eb.slt_bytes - 100 - kLineCost);
    }

    // The device is still talking: the next drain gives up at its bound and
    // the command is never sent.
    eb.drain_bytes = 20000;
    SetExchangeBounds(eb);
    ExchangeEnd end = ExchangeEnd::Silence;
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "");
    EXPECT_EQ(end, ExchangeEnd::Overrun);
    ASSERT_TRUE(sim->WaitForCommands(1, milliseconds(1000)));
    EXPECT_FALSE(sim->WaitForCommands(2, milliseconds(100)));
}

TEST_F(Bounds, KrxLineWithoutEndStopsAtItsBound) {
    Serve({std::string(5000, 'k')}, "");
    ExchangeBounds eb = DefaultExchangeBounds();
    eb.krx_bytes = 1000;
    SetExchangeBounds(eb);
    ExchangeEnd end = ExchangeEnd::Silence;
    EXPECT_EQ(krx_cmd("fs read X\r", 2, &end), std::string(1000, 'k'));
    EXPECT_EQ(end, ExchangeEnd::Overrun);
}

TEST_F(Bounds, EndlessReplyEndsAtItsTimeBound) {
    Behave(endless(true));
    ExchangeBounds eb = DefaultExchangeBounds();
    eb.list_time = milliseconds(300);
    eb.drain_time = milliseconds(200);
    SetExchangeBounds(eb);
    TStringList list;
    const auto t0 = Clock::now();
    EXPECT_EQ(mlt_cmd("fs read X\r", list, 1), ExchangeEnd::Overrun);
    const auto t1 = Clock::now();
    EXPECT_GE(ms_between(t0, t1), 300.0);
    EXPECT_LT(ms_between(t0, t1), 5000.0);
    EXPECT_GT(list.Count(), 0);
    // The drain's own time bound, on the same paced stream.
    ExchangeEnd end = ExchangeEnd::Silence;
    krx_cmd("md mach\r", 2, &end);
    EXPECT_EQ(end, ExchangeEnd::Overrun);
    EXPECT_GE(ms_between(t1, Clock::now()), 200.0);
}

TEST_F(Bounds, HangUpMidReplyKeepsTheLinesBeforeAndFailsWhatFollows) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine reads a hung-up pseudo-terminal as silence, not as a failed read";
    Serve({"line-1", "line-2", "line-3", "line-4"});
    krx3sim::Behaviour b = sim->GetBehaviour();
    b.close_after_bytes = 2 * 7 + 3;  // in the middle of line-3
    Behave(b);
    TStringList list;
    std::vector<int> progress;
    EXPECT_EQ(slt_cmd("fs read X\r", list, 1, [&](int p) { progress.push_back(p); }), ExchangeEnd::LineLost);
    // Failed reads end the reply at once: they are no silence to wait out.
    EXPECT_LT(LastExchange().ended - LastExchange().last_byte, kEndSilence);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"line-1", "line-2"}));
    EXPECT_EQ(progress, (std::vector<int>{0, 1}));

    ExchangeEnd end = ExchangeEnd::Silence;
    const auto t0 = Clock::now();
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "");
    EXPECT_TRUE(end == ExchangeEnd::WriteFailed || end == ExchangeEnd::LineLost);
    EXPECT_LT(ms_between(t0, Clock::now()), 500.0);
    EXPECT_EQ(CloseCom(), 1);
}

TEST_F(Bounds, StopExchangesWritesNothingAndEndsAnEndlessReply) {
    StopExchanges(true);
    ExchangeEnd end = ExchangeEnd::Silence;
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "");
    EXPECT_EQ(end, ExchangeEnd::Stopped);
    TStringList list;
    EXPECT_EQ(mlt_cmd("fs list\r", list, 1), ExchangeEnd::Stopped);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(sim->WaitForCommands(1, milliseconds(150)));
    StopExchanges(false);
    EXPECT_EQ(krx_cmd("md mach\r", 2), "ok");

    Behave(endless());
    std::atomic<int> lines{0};
    Clock::time_point stopped_at{};
    std::thread stopper([&] {
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (lines.load() < 500 && Clock::now() < until) std::this_thread::yield();
        stopped_at = Clock::now();
        StopExchanges(true);
    });
    end = slt_cmd("fs read X\r", list, 1, [&](int p) { lines.store(p + 1); });
    const auto returned = Clock::now();
    stopper.join();
    EXPECT_EQ(end, ExchangeEnd::Stopped);
    EXPECT_GE(list.Count(), 500);
    EXPECT_LT(ms_between(stopped_at, returned), 500.0);
}

TEST(CloseCom, ExchangesAfterCloseFailAtOnceAndWriteNothing) {
    krx3sim::Simulator sim(krx3sim::SampleLogs(2, 3));
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    ASSERT_EQ(CloseCom(), 1);

    const auto t0 = Clock::now();
    ExchangeEnd end = ExchangeEnd::Silence;
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "");
    EXPECT_EQ(end, ExchangeEnd::NotOpen);
    TStringList list;
    EXPECT_EQ(mlt_cmd("fs list\r", list, 1), ExchangeEnd::NotOpen);
    int calls = 0;
    EXPECT_EQ(slt_cmd("fs read X\r", list, 1, [&calls](int) { ++calls; }), ExchangeEnd::NotOpen);
    // Not one idle read was spent: three exchanges in less than the three
    // idle reads (75 ms) they would cost if even one each was.
    EXPECT_LT(ms_between(t0, Clock::now()), 70.0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(sim.WaitForCommands(1, milliseconds(200)));
}
