// The command exchange against the simulated device: framing, idle reads,
// the device's pauses, and the bounds that stop a runaway device.
#include <algorithm>

#include "link_fixture.h"

using Exchange = LinkTest;

// Each reply is read by krx_cmd (its first line), then by mlt_cmd and slt_cmd
// (every line ended by CR, the two alike).
TEST_F(Exchange, RepliesAreCutIntoLinesAtCarriageReturnsOnly) {
    const std::string l300 = std::string(150, 'A') + std::string(150, 'z'), high = "\xC4\xD6\xDC\xE9\xFF\x80";
    const std::string nul("ab\0cd", 5), nul_first("\0x", 2);
    // The line end after each of the device's lines, krx_cmd's line, the
    // device's lines, slt_cmd's (mlt_cmd's without an unended last one), and
    // whether there are bytes after the last carriage return.
    const struct {
        std::string line_end, krx;
        Lines lines, slt;
        bool unended;
    } cases[] = {
        // A line feed is dropped wherever it stands.
        {"\n\r", "ab", {"a\nb", "\nc\n", "d"}, {"ab", "c", "d"}, false},
        // Two carriage returns make an empty line.
        {"\r", "a", {"a", "", "b"}, {"a", "", "b"}, false},
        // Bytes after the last carriage return are no line of a listing, but
        // they are the log's data.
        {"", "one", {"one\rtwo\rtail"}, {"one", "two", "tail"}, true},
        // Every byte of a line is kept, NUL and high bytes too, however long
        // the line; krx_cmd's line is a C string and ends before a NUL.
        {"\r", "ab", {nul, high, nul_first, l300}, {nul, high, nul_first, l300}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slt[1].substr(0, 8));
        Serve(c.lines, c.line_end);
        ExchangeEnd end = ExchangeEnd::Overrun;
        EXPECT_EQ(krx_cmd("fs read X\r", 2, &end), c.krx);
        EXPECT_EQ(end, ExchangeEnd::LineEnd);
        TStringList mlt, slt;
        EXPECT_EQ(mlt_cmd("fs read X\r", mlt, 1), ExchangeEnd::Silence);
        EXPECT_EQ(mlt.Lines(), Lines(c.slt.begin(), c.slt.end() - c.unended));
        EXPECT_EQ(slt_cmd("fs read X\r", slt, 1, nullptr), ExchangeEnd::Silence);
        EXPECT_EQ(slt.Lines(), c.slt);
        EXPECT_EQ(LastExchange().unended, c.unended);
    }
}

// A whole conversation: what the device heard, in order, and what came back.
TEST_F(Exchange, ListReadDeleteConversation) {
    const auto logs = sim->Logs();
    const std::string name = logs[1].start_code;
    // A command is written up to its NUL.
    EXPECT_EQ(krx_cmd(std::string("md mach\r\0junk\r", 14), 2), "ok");
    // After writing, krx_cmd pauses 10 ms and the listing and the upload 2 ms
    // before they read: a device answering at once is heard no sooner.
    EXPECT_GE(LastExchange().last_byte - LastExchange().written, milliseconds(10));
    TStringList listing, upload;
    EXPECT_EQ(mlt_cmd("fs list\r", listing, 1), ExchangeEnd::Silence);
    EXPECT_GE(LastExchange().last_byte - LastExchange().written, milliseconds(2));
    ASSERT_EQ(listing.Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(listing[i], logs[i].start_code + " " + logs[i].stop_code);
    // Before each line is added, progress is told how many came before it.
    std::vector<int> progress;
    const auto count = [&](int p) { progress.push_back(p - upload.Count()); };
    EXPECT_EQ(slt_cmd("fs read " + name + "\r", upload, 1, count), ExchangeEnd::Silence);
    EXPECT_GE(LastExchange().last_byte - LastExchange().written, milliseconds(2));
    EXPECT_EQ(progress, std::vector<int>(4, 0));
    // krx_cmd takes the first line; the drain before the next command eats the rest.
    EXPECT_EQ(krx_cmd("fs read " + name + "\r", 2), logs[1].lines[0]);
    EXPECT_EQ(krx_cmd("fs del " + name + "\r", 1), "ok");
    const Lines expected = {"md mach", "fs list", "fs read " + name, "fs read " + name, "fs del " + name};
    ASSERT_TRUE(sim->WaitForCommands(expected.size(), milliseconds(1000)));
    Lines heard;
    for (const auto& c : sim->Commands()) heard.push_back(c.text);
    EXPECT_EQ(heard, expected);
    // Without a connection nothing is written or read.
    CloseCom();
    EXPECT_EQ(mlt_cmd("fs list\r", listing, 1), ExchangeEnd::NotOpen);
}

// An idle read lasts the 25 ms read time-out, and krx_cmd gives a silent
// device its budget + 1 of them in a row after its 10 ms pause, a budget
// below 1 counting as 1. Load only makes a read or an exchange longer: the
// fastest ones count.
TEST_F(Exchange, ASilentDeviceIsGivenUpOnAfterBudgetPlusOneIdleReads) {
    b.silent = true;
    sim->SetBehaviour(b);
    double read_ms = 1e9;
    unsigned char byte = 0;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        EXPECT_EQ(serial_os::ReadByte(hCom.load(), &byte), serial_os::Read::Idle);
        read_ms = std::min(read_ms, Ms(Clock::now() - t0).count());
    }
    EXPECT_NEAR(read_ms, 30.0, 10.0);  // 20 ms: a read may end a little early under Wine
    for (int budget : {0, 3}) {
        const int reads = std::max(budget, 1) + 1;
        double fastest = 1e9;  // in idle reads
        for (int i = 0; i < 10 && fastest > reads + 0.5; ++i) {
            ExchangeEnd end = ExchangeEnd::LineEnd;
            EXPECT_EQ(krx_cmd("md mach\r", budget, &end), "");
            EXPECT_EQ(end, ExchangeEnd::Silence);
            fastest = std::min(fastest, (Ms(LastExchange().ended - LastExchange().written).count() - 10) / read_ms);
        }
        EXPECT_NEAR(fastest, reads, 0.5) << "idle reads for budget " << budget;
    }
}

// For krx_cmd the silence is counted in a row: eight pauses of more than one
// read time-out each (more idle reads in all than budget 4 allows), each far
// shorter than five in a row, do not end it. The listing and the upload wait
// up to kFirstByteWait for the first byte and ride out pauses inside the
// reply; only kEndSilence after the last byte ends them. The delay and the
// pauses are well inside the waits, so load cannot turn them into an end.
TEST_F(Exchange, ADevicesPausesAreRiddenOut) {
    b.delay_before_reply = b.pause = milliseconds(35);
    b.pause_every_lines = 1;
    Serve({"a", "b", "c", "d", "e", "f", "g", "h", "i"}, "");
    EXPECT_EQ(krx_cmd("fs read X\r", 4), "abcdefghi");
    b.read_delay = milliseconds(1500);
    b.pause = milliseconds(170);
    Serve({"line 1", "line 2", "line 3"});
    for (bool list : {false, true}) {
        TStringList got;
        EXPECT_EQ(list ? mlt_cmd("fs read X\r", got, 1) : slt_cmd("fs read X\r", got, 1, nullptr),
                  ExchangeEnd::Silence);
        EXPECT_EQ(got.Lines(), (Lines{"line 1", "line 2", "line 3"}));
        const auto quiet = LastExchange().ended - LastExchange().last_byte;
        EXPECT_TRUE(quiet >= kEndSilence && quiet < kEndSilence + milliseconds(500)) << Ms(quiet).count();
    }
}

// A reply that does not end stops at its bound: krx_cmd's in bytes, the
// upload's in bytes and kLineCost a line, the listing's in time. So does the
// drain of the rest before the next command, which is then never sent.
TEST_F(Exchange, RunawayRepliesStopAtTheirBound) {
    ExchangeBounds eb = DefaultExchangeBounds();
    eb.krx_bytes = 1000;
    eb.slt_bytes = 50000;
    eb.drain_bytes = 1000;  // less than is already on its way: the bound, not a gap under load, ends the drain
    eb.list_time = milliseconds(300);
    SetExchangeBounds(eb);
    ExchangeEnd end = ExchangeEnd::Silence;
    Serve({std::string(5000, 'k')}, "");
    EXPECT_EQ(krx_cmd("fs read X\r", 2, &end), std::string(1000, 'k'));
    EXPECT_EQ(end, ExchangeEnd::Overrun);

    b.endless_reply = true;
    Open({});
    Serve({""});
    TStringList empty, records;
    EXPECT_EQ(slt_cmd("fs read X\r", empty, 1, nullptr), ExchangeEnd::Overrun);
    EXPECT_NEAR(empty.Count(), 50000 / (kLineCost + 1), 1);
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "");
    EXPECT_EQ(end, ExchangeEnd::Overrun);
    EXPECT_NEAR(LastExchange().drained, 1000, 1);
    EXPECT_FALSE(sim->WaitForCommands(2, milliseconds(100))) << "the command was sent";

    // Paced as a real line: the listing's bytes stay far below their bound.
    Open({});
    b.paced = true;
    sim->SetBehaviour(b);
    const auto t0 = Clock::now();
    EXPECT_EQ(mlt_cmd("fs read X\r", records, 1), ExchangeEnd::Overrun);
    EXPECT_GE(Clock::now() - t0, milliseconds(300));
    EXPECT_LT(Clock::now() - t0, milliseconds(3000));
    EXPECT_GT(records.Count(), 0);
}

// A hang-up mid-reply keeps the lines before it; failed reads end the reply
// at once: they are no silence to wait out.
TEST_F(Exchange, HangUpMidReplyKeepsTheLinesBefore) {
    b.close_after_bytes = 2 * 7 + 3;  // in the middle of line-3
    Serve({"line-1", "line-2", "line-3", "line-4"});
    TStringList list;
    EXPECT_EQ(slt_cmd("fs read X\r", list, 1, nullptr), ExchangeEnd::LineLost);
    EXPECT_LT(LastExchange().ended - LastExchange().last_byte, kEndSilence);
    EXPECT_EQ(list.Lines(), (Lines{"line-1", "line-2", "lin"}));
    EXPECT_TRUE(LastExchange().error.Failed() && LastExchange().unended) << "no system error, or no unended line";
}

// StopExchanges ends an endless reply at its next read, and while it is on
// nothing is written.
TEST_F(Exchange, StopExchangesEndsAnEndlessReplyAndWritesNothing) {
    b.endless_reply = true;
    sim->SetBehaviour(b);
    TStringList list;
    EXPECT_EQ(slt_cmd("fs read X\r", list, 1, [](int p) { StopExchanges(p >= 500); }), ExchangeEnd::Stopped);
    EXPECT_EQ(list.Count(), 501);
    EXPECT_EQ(krx_cmd("md mach\r", 2), "");
    EXPECT_FALSE(sim->WaitForCommands(2, milliseconds(150))) << "a command was sent";
}
