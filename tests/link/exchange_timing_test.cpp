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
        EXPECT_TRUE(sim->WaitForCommands(static_cast<std::size_t>(i + 1), milliseconds(1000)));
        // Timed on this side: the command went out after the drain's idle read.
        const ExchangeStats s = LastExchange();
        EXPECT_TRUE(s.sent);
        EXPECT_GE(s.written - t0, milliseconds(25));
        EXPECT_LT(s.written - t0, milliseconds(2000));
    }
}

// krx_cmd's silence is its idle budget: budget + 1 idle reads after the
// command, a budget below 1 counting as 1. The listing and the upload wait
// kFirstByteWait for a first byte.
TEST_F(Timing, ASilentDeviceIsGivenUpOnAfterItsWait) {
    krx3sim::Behaviour silent;
    silent.silent = true;
    Behave(silent);
    const struct {
        int budget;
        bool list;
        milliseconds wait;  // from the command's write to the end
    } cases[] = {{2, false, milliseconds(75)}, {0, false, milliseconds(50)}, {-3, false, milliseconds(50)},
                 {1, true, kFirstByteWait}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.budget << (c.list ? " mlt" : " krx"));
        sim->ClearCommands();
        ExchangeEnd end = ExchangeEnd::LineEnd;
        TStringList lines;
        if (c.list) {
            end = mlt_cmd("fs list\r", lines, c.budget);
        } else {
            EXPECT_EQ(krx_cmd("md mach\r", c.budget, &end), "");
        }
        EXPECT_EQ(end, ExchangeEnd::Silence);
        const ExchangeStats s = LastExchange();
        EXPECT_EQ(s.bytes, 0u);
        EXPECT_TRUE(sim->WaitForCommands(1, milliseconds(1000))) << "the command was not sent";
        EXPECT_GE(s.ended - s.written, c.wait);
        EXPECT_LT(s.ended - s.written, c.wait + milliseconds(2000));
    }

    // A reply that starts after one idle read is still caught (40 ms late,
    // where budget 4 gives up after about 135 ms).
    krx3sim::Behaviour late;
    late.delay_before_reply = milliseconds(40);
    Behave(late);
    EXPECT_EQ(krx_cmd("md mach\r", 4), "ok");
}

// The listing and the upload ride out a slow start and pauses inside the
// reply; only a silence of kEndSilence after the last byte ends them, with
// the lines before kept. Pauses and delays are well inside the waits, so
// a busy machine cannot turn them into an end.
TEST_F(Timing, ListingAndUploadRideOutADevicesPauses) {
    const struct {
        milliseconds start, pause;
        int pause_every;
        int lines, kept;
    } cases[] = {
        {milliseconds(1500), milliseconds(0), 0, 6, 6},
        {milliseconds(40), milliseconds(170), 1, 4, 4},
        {milliseconds(0), milliseconds(1000), 3, 5, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start.count() << " ms, pause " << c.pause.count() << " ms");
        Serve(numbered(c.lines));
        krx3sim::Behaviour b = sim->GetBehaviour();
        b.read_delay = c.start;
        b.pause_every_lines = c.pause_every;
        b.pause = c.pause;
        Behave(b);
        for (bool list : {false, true}) {
            TStringList got;
            const ExchangeEnd end = list ? mlt_cmd("fs read X\r", got, 1) : slt_cmd("fs read X\r", got, 1, nullptr);
            EXPECT_EQ(end, ExchangeEnd::Silence);
            EXPECT_EQ(got.Lines(), numbered(c.kept));
            const ExchangeStats s = LastExchange();
            EXPECT_GE(s.ended - s.last_byte, kEndSilence);
            EXPECT_LT(s.ended - s.last_byte, kEndSilence + milliseconds(500));
            // The rest of a cut reply comes after the pause, before the
            // answer to the next command.
            if (c.kept < c.lines) {
                TStringList rest;
                EXPECT_EQ(mlt_cmd("md mach\r", rest, 1), ExchangeEnd::Silence);
                EXPECT_EQ(rest.Lines(), (std::vector<std::string>{"line 4", "line 5", "ok"}));
            }
        }
    }
}

// For krx_cmd the silence is counted in a row: eight pauses of more than one
// read time-out each (more idle reads in all than budget 4 allows), each far
// shorter than five in a row, do not end it.
TEST_F(Timing, IdleReadsAreCountedInARow) {
    Serve({"a", "b", "c", "d", "e", "f", "g", "h", "i"}, "");
    krx3sim::Behaviour b = sim->GetBehaviour();
    b.delay_before_reply = milliseconds(35);
    b.pause_every_lines = 1;
    b.pause = milliseconds(35);
    Behave(b);
    EXPECT_EQ(krx_cmd("fs read X\r", 4), "abcdefghi");
}
