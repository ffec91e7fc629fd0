// The reply framing of krx_cmd, mlt_cmd and slt_cmd, byte for byte.
#include <string>
#include <vector>

#include "link_fixture.h"

using Framing = LinkTest;
using Lines = std::vector<std::string>;

// Each reply is read by krx_cmd (its first line), then by mlt_cmd and
// slt_cmd (every line ended by CR, the two alike).
TEST_F(Framing, RepliesAreCutIntoLinesAtCarriageReturnsOnly) {
    std::string l300;
    for (int i = 0; i < 300; ++i) l300.push_back(static_cast<char>('A' + i % 26));
    const std::string l256(256, 'r');
    const std::string high = "\xC4\xD6\xDC\xE9\xFF\x80";
    const struct {
        Lines lines;
        std::string line_end, krx;
        ExchangeEnd krx_end;
        Lines list;
    } cases[] = {
        {{"OK"}, "\r\n", "OK", ExchangeEnd::LineEnd, {"OK"}},
        // A line feed is dropped wherever it stands, and alone ends nothing.
        {{"a\nb", "\nc\n", "d"}, "\n\r", "ab", ExchangeEnd::LineEnd, {"ab", "c", "d"}},
        {{"one", "two"}, "\n", "onetwo", ExchangeEnd::Silence, {}},
        // Two carriage returns make an empty line.
        {{"a", "", "b"}, "\r", "a", ExchangeEnd::LineEnd, {"a", "", "b"}},
        // Bytes after the last carriage return are no line of a list.
        {{"one\rtwo\rtail"}, "", "one", ExchangeEnd::LineEnd, {"one", "two"}},
        // Every byte of a line is kept, NUL and high bytes too; krx_cmd's
        // line is a C string and ends before a NUL.
        {{std::string("ab\0cd", 5), high, std::string("\0x", 2), "z"},
         "\r",
         "ab",
         ExchangeEnd::LineEnd,
         {std::string("ab\0cd", 5), high, std::string("\0x", 2), "z"}},
        // Lines longer than 255 are kept whole.
        {{l300, l256, "end"}, "\r", l300, ExchangeEnd::LineEnd, {l300, l256, "end"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list.size() > 1 ? c.list[1].substr(0, 8) : c.krx.substr(0, 8));
        Serve(c.lines, c.line_end);
        ExchangeEnd end = ExchangeEnd::Overrun;
        EXPECT_EQ(krx_cmd("fs read X\r", 2, &end), c.krx);
        EXPECT_EQ(end, c.krx_end);
        TStringList mlt, slt;
        EXPECT_EQ(mlt_cmd("fs read X\r", mlt, 1), ExchangeEnd::Silence);
        EXPECT_EQ(mlt.Lines(), c.list);
        EXPECT_EQ(slt_cmd("fs read X\r", slt, 1, nullptr), ExchangeEnd::Silence);
        EXPECT_EQ(slt.Lines(), c.list);
    }
    // The line feed left over after "OK" is eaten by the next drain.
    Serve({"OK"}, "\r\n");
    EXPECT_EQ(krx_cmd("fs read X\r", 2), "OK");
    EXPECT_EQ(krx_cmd("md mach\r", 2), "ok");
}

// Before each line is added, progress is told how many came before it.
TEST_F(Framing, ProgressCountsTheLinesAddedBefore) {
    Serve({"l1", "l2", "l3"});
    TStringList list;
    std::vector<int> positions, counts_seen;
    slt_cmd("fs read X\r", list, 1, [&](int p) {
        positions.push_back(p);
        counts_seen.push_back(list.Count());
    });
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(counts_seen, positions);
}

// A whole conversation: what the device heard, in order, and what came back.
TEST_F(Framing, ListReadDeleteConversation) {
    const auto logs = sim->Logs();
    ASSERT_EQ(logs.size(), 3u);
    // A command is written up to its NUL.
    EXPECT_EQ(krx_cmd(std::string("md mach\r\0junk\r", 14), 2), "ok");
    TStringList listing;
    listing.SetSorted(true);
    EXPECT_EQ(mlt_cmd("fs list\r", listing, 1), ExchangeEnd::Silence);
    ASSERT_EQ(listing.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        const auto& log = logs[static_cast<std::size_t>(i)];
        EXPECT_EQ(listing.Get(i), log.start_code + " " + log.stop_code);
    }
    const std::string name = logs[1].start_code;
    TStringList upload;
    EXPECT_EQ(slt_cmd("fs read " + name + "\r", upload, 1, nullptr), ExchangeEnd::Silence);
    EXPECT_EQ(upload.Lines(), logs[1].lines);
    EXPECT_EQ(krx_cmd("fs del " + name + "\r", 1), "ok");
    EXPECT_EQ(krx_cmd("fs bogus\r", 2), "?");

    const Lines expected = {"md mach", "fs list", "fs read " + name, "fs del " + name, "fs bogus"};
    ASSERT_TRUE(sim->WaitForCommands(expected.size(), milliseconds(1000)));
    const auto cmds = sim->Commands();
    ASSERT_EQ(cmds.size(), expected.size());
    for (std::size_t i = 0; i < cmds.size(); ++i) EXPECT_EQ(cmds[i].text, expected[i]);
}
