// Idle reads: the drain, the budget, and the count of silence in a row.
#include <string>
#include <vector>

#include "link_fixture.h"

using Timing = LinkTest;

namespace {

std::vector<std::string> numbered(int n) {
    std::vector<std::string> v;
    for (int i = 1; i <= n; ++i) v.push_back("line " + std::to_string(i));
    return v;
}

}  // namespace

TEST_F(Timing, DrainSpendsAnIdleReadBeforeTheCommand) {
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        EXPECT_EQ(krx_cmd("md mach\r", 2), "ok");
        ASSERT_TRUE(sim->WaitForCommands(static_cast<std::size_t>(i + 1), milliseconds(1000)));
        const double ms = ms_between(t0, sim->Commands().back().arrived);
        EXPECT_GE(ms, 25.0);
        EXPECT_LT(ms, 2000.0);
    }
}

// A silent device costs budget + 1 idle reads after the command; a budget
// below 1 counts as 1.
TEST_F(Timing, SilentDeviceCostsBudgetPlusOneIdleReads) {
    krx3sim::Behaviour silent;
    silent.silent = true;
    Behave(silent);
    const struct {
        int budget;
        double min_ms;  // a little under (budget + 1) read time-outs
    } cases[] = {{2, 72.0}, {0, 47.0}, {-3, 47.0}};
    for (const auto& c : cases) {
        for (bool list : {false, true}) {
            sim->ClearCommands();
            ExchangeEnd end = ExchangeEnd::LineEnd;
            TStringList lines;
            if (list) {
                end = mlt_cmd("fs list\r", lines, c.budget);
            } else {
                EXPECT_EQ(krx_cmd("md mach\r", c.budget, &end), "");
            }
            const auto done = Clock::now();
            EXPECT_EQ(end, ExchangeEnd::Silence);
            ASSERT_TRUE(sim->WaitForCommands(1, milliseconds(1000)));
            const double ms = ms_between(sim->Commands()[0].arrived, done);
            EXPECT_GE(ms, c.min_ms) << c.budget << (list ? " mlt" : " krx");
            EXPECT_LT(ms, 2000.0);
        }
    }

    // A reply that starts after one idle read is still caught.
    krx3sim::Behaviour late;
    late.delay_before_reply = milliseconds(40);
    Behave(late);
    EXPECT_EQ(krx_cmd("md mach\r", 0), "ok");
    EXPECT_EQ(krx_cmd("fs stop\r", -3), "ok");
}

// Pauses of more than one read time-out, fewer than budget + 1 in a row: the
// whole reply arrives (counted over the whole exchange it would be cut at
// the second pause). A pause as long as budget + 1 reads ends the reply.
TEST_F(Timing, IdleReadsAreCountedInARow) {
    Serve(numbered(10));
    krx3sim::Behaviour b = sim->GetBehaviour();
    b.delay_before_reply = milliseconds(35);
    b.pause_every_lines = 1;
    b.pause = milliseconds(35);
    Behave(b);
    TStringList list;
    const auto t0 = Clock::now();
    EXPECT_EQ(slt_cmd("fs read X\r", list, 1, nullptr), ExchangeEnd::Silence);
    EXPECT_GE(ms_between(t0, Clock::now()), 10 * 35.0);
    EXPECT_EQ(list.Lines(), numbered(10));

    Serve(numbered(6));
    b.delay_before_reply = milliseconds(0);
    b.pause_every_lines = 3;
    b.pause = milliseconds(60);
    Behave(b);
    TStringList whole;
    EXPECT_EQ(mlt_cmd("fs read X\r", whole, 3), ExchangeEnd::Silence);
    EXPECT_EQ(whole.Lines(), numbered(6));
    // A budget of 1 does not ride out 250 ms, and keeps the lines before.
    b.pause = milliseconds(250);
    Behave(b);
    TStringList cut;
    EXPECT_EQ(mlt_cmd("fs read X\r", cut, 1), ExchangeEnd::Silence);
    EXPECT_EQ(cut.Lines(), numbered(3));
}
