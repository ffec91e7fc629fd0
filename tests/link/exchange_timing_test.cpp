// Idle reads: the drain, the pause after the command, the budget, and the
// count of silence in a row.
#include <algorithm>
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

// Each exchange drains with one idle read (25 ms) before it writes, and
// pauses after the write (krx_cmd 10 ms, the listing and the upload 2 ms)
// before it reads: a device that answers at once is heard no sooner. Both
// are lower bounds, so a busy machine cannot break them; a missing pause
// shows in any of the tries, as the simulator answers within far less.
TEST_F(Timing, DrainBeforeAndPauseAfterTheCommand) {
    const struct {
        char kind;
        milliseconds pause;
    } cases[] = {{'k', milliseconds(10)}, {'m', milliseconds(2)}, {'s', milliseconds(2)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        for (int i = 0; i < 3; ++i) {
            sim->ClearCommands();
            TStringList got;
            const auto t0 = Clock::now();
            const bool answered = c.kind == 'k'   ? krx_cmd("md mach\r", 2) == "ok"
                                  : c.kind == 'm' ? mlt_cmd("md mach\r", got, 1) == ExchangeEnd::Silence
                                                  : slt_cmd("md mach\r", got, 1, nullptr) == ExchangeEnd::Silence;
            EXPECT_TRUE(answered);
            const ExchangeStats s = LastExchange();
            ASSERT_TRUE(sim->WaitForCommands(1, milliseconds(1000)));
            EXPECT_GE(s.written - t0, milliseconds(25));
            EXPECT_EQ(s.bytes, 3u);
            EXPECT_GE(s.last_byte - s.written, c.pause);
        }
    }
}

// krx_cmd's silence is its idle budget: budget + 1 idle reads of 25 ms after
// the command and its pause, a budget below 1 counting as 1. The fastest of
// three tries must also end well before reads twice as long would; load only
// makes a try slower. The listing and the upload wait kFirstByteWait.
TEST_F(Timing, ASilentDeviceIsGivenUpOnAfterItsWait) {
    krx3sim::Behaviour silent;
    silent.silent = true;
    Behave(silent);
    const struct {
        int budget, reads;  // reads: 0 for the listing
    } cases[] = {{2, 3}, {0, 2}, {-3, 2}, {8, 9}, {1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "budget " << c.budget << (c.reads ? " krx" : " mlt"));
        // A read may end a little early under Wine: 20 ms is counted as its least.
        const milliseconds wait = c.reads ? milliseconds(10 + 20 * c.reads) : kFirstByteWait;
        Clock::duration fastest = std::chrono::hours(1);
        for (int i = 0; i < (c.reads ? 3 : 1); ++i) {
            sim->ClearCommands();
            ExchangeEnd end = ExchangeEnd::LineEnd;
            TStringList lines;
            if (c.reads) {
                EXPECT_EQ(krx_cmd("md mach\r", c.budget, &end), "");
            } else {
                end = mlt_cmd("fs list\r", lines, c.budget);
            }
            EXPECT_EQ(end, ExchangeEnd::Silence);
            const ExchangeStats s = LastExchange();
            EXPECT_EQ(s.bytes, 0u);
            EXPECT_TRUE(sim->WaitForCommands(1, milliseconds(1000))) << "the command was not sent";
            EXPECT_GE(s.ended - s.written, wait);
            fastest = std::min(fastest, s.ended - s.written);
        }
        EXPECT_LT(fastest, c.reads ? milliseconds(10 + 50 * c.reads) : wait + milliseconds(2000));
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
        int pause_every, lines, kept;
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
