// The bounds that keep a runaway device from holding the caller, hang-ups,
// StopExchanges, and exchanges on a closed port.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "link_fixture.h"
#include "platform_support.h"

using Bounds = LinkTest;

// A reply that does not end stops at its size or time bound (lines cost
// their bytes and kLineCost each); so does the drain of such a reply
// before the next command, which is then never sent.
TEST_F(Bounds, RunawayRepliesStopAtTheirBound) {
    enum Kind { Krx, Mlt, Slt, Drain };
    const struct {
        const char* why;
        Kind kind;
        bool records, paced, endless;
        std::size_t ExchangeBounds::*bytes;
        milliseconds ExchangeBounds::*time;
        std::size_t limit;
    } cases[] = {
        {"upload of empty lines", Slt, false, false, true, &ExchangeBounds::slt_bytes, nullptr, 50000},
        {"upload of records", Slt, true, false, true, &ExchangeBounds::slt_bytes, nullptr, 50000},
        {"status line without end", Krx, false, false, false, &ExchangeBounds::krx_bytes, nullptr, 1000},
        {"listing in time", Mlt, true, true, true, nullptr, &ExchangeBounds::list_time, 300},
        {"drain in bytes", Drain, true, false, true, &ExchangeBounds::drain_bytes, nullptr, 20000},
        // Unpaced: a full line has no gap that a busy machine could turn into
        // the silence that ends a drain.
        {"drain in time", Drain, true, false, true, nullptr, &ExchangeBounds::drain_time, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CloseCom();
        sim = std::make_unique<krx3sim::Simulator>(krx3sim::SampleLogs(1, 1));
        ASSERT_NE(OpenCom(sim->PortPath()), 0) << OpenComError();
        if (!c.records) Serve({c.kind == Krx ? std::string(5000, 'k') : ""}, c.kind == Krx ? "" : "\r");
        krx3sim::Behaviour b = sim->GetBehaviour();
        b.endless_reply = c.endless;
        b.paced = c.paced;
        Behave(b);
        ExchangeBounds eb = DefaultExchangeBounds();
        if (c.bytes) eb.*c.bytes = c.limit;
        if (c.time) eb.*c.time = milliseconds(c.limit);
        if (c.time) eb.drain_bytes = std::size_t(1) << 40;  // the time bound alone decides
        TStringList list;
        if (c.kind == Drain) {  // the runaway reply is cut by its own small bound first
            eb.slt_bytes = 2000;
            SetExchangeBounds(eb);
            EXPECT_EQ(slt_cmd("fs read X\r", list, 1, nullptr), ExchangeEnd::Overrun);
        }
        SetExchangeBounds(eb);
        ExchangeEnd end = ExchangeEnd::Silence;
        const auto t0 = Clock::now();
        std::size_t cost = 0;
        if (c.kind == Krx || c.kind == Drain) {
            cost = krx_cmd("fs read X\r", 2, &end).size();
            if (c.kind == Drain) cost = LastExchange().drained;
        } else {
            end = c.kind == Mlt ? mlt_cmd("fs read X\r", list, 1) : slt_cmd("fs read X\r", list, 1, nullptr);
            for (const std::string& l : list.Lines()) cost += l.size() + 1 + kLineCost;
            EXPECT_GT(list.Count(), 0);
        }
        EXPECT_EQ(end, ExchangeEnd::Overrun);
        if (c.bytes) {
            EXPECT_LE(cost, c.limit + (c.kind == Drain ? 1 : 0));
            EXPECT_GT(cost + 100 + kLineCost, c.limit);
        } else {
            EXPECT_GE(Clock::now() - t0, milliseconds(c.limit));
            EXPECT_LT(Clock::now() - t0, milliseconds(c.limit + 5000));
        }
        if (c.kind == Drain) {
            EXPECT_FALSE(sim->WaitForCommands(2, milliseconds(100))) << "the command was sent";
        }
    }
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
    EXPECT_TRUE(end == ExchangeEnd::WriteFailed || end == ExchangeEnd::LineLost) << static_cast<int>(end);
    EXPECT_LT(ms_between(t0, Clock::now()), 500.0);
}

TEST_F(Bounds, StopExchangesWritesNothingAndEndsAnEndlessReply) {
    StopExchanges(true);
    ExchangeEnd end = ExchangeEnd::Silence;
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "");
    EXPECT_EQ(end, ExchangeEnd::Stopped);
    TStringList list;
    EXPECT_EQ(mlt_cmd("fs list\r", list, 1), ExchangeEnd::Stopped);
    EXPECT_FALSE(sim->WaitForCommands(1, milliseconds(150)));
    StopExchanges(false);

    krx3sim::Behaviour b;
    b.endless_reply = true;
    Behave(b);
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
    EXPECT_EQ(list.Count() + calls, 0);
    EXPECT_FALSE(sim.WaitForCommands(1, milliseconds(200)));
}
