// The reply framing of krx_cmd, mlt_cmd and slt_cmd, byte for byte.
#include <string>
#include <vector>

#include "link_fixture.h"

namespace {

std::vector<std::string> lines_of(const TStringList& l) { return l.Lines(); }

}  // namespace

using Framing = LinkTest;

TEST_F(Framing, KrxReturnsTheLineAndTheNextDrainEatsTheLineFeed) {
    Serve({"OK"}, "\r\n");
    ExchangeEnd end = ExchangeEnd::Silence;
    EXPECT_EQ(krx_cmd("fs read X\r", 2, &end), "OK");
    EXPECT_EQ(end, ExchangeEnd::LineEnd);
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "ok");
    EXPECT_EQ(end, ExchangeEnd::LineEnd);
}

TEST_F(Framing, LineFeedIsDroppedWhereverItStands) {
    Serve({"a\nb", "\nc\n", "d"}, "\n\r");
    EXPECT_EQ(krx_cmd("fs read X\r", 2), "ab");
    TStringList list;
    EXPECT_EQ(mlt_cmd("fs read X\r", list, 1), ExchangeEnd::Silence);
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"ab", "c", "d"}));
}

TEST_F(Framing, LineFeedAloneEndsNoLine) {
    Serve({"one", "two"}, "\n");
    TStringList list;
    mlt_cmd("fs read X\r", list, 1);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(krx_cmd("fs read X\r", 1), "onetwo");
}

TEST_F(Framing, TwoCarriageReturnsMakeAnEmptyLine) {
    Serve({"a", "", "b"});
    TStringList list;
    mlt_cmd("fs read X\r", list, 1);
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"a", "", "b"}));
    TStringList list2;
    slt_cmd("fs read X\r", list2, 1, nullptr);
    EXPECT_EQ(lines_of(list2), (std::vector<std::string>{"a", "", "b"}));

    Serve({"", "x"});
    ExchangeEnd end = ExchangeEnd::Silence;
    EXPECT_EQ(krx_cmd("fs read X\r", 2, &end), "");
    EXPECT_EQ(end, ExchangeEnd::LineEnd);
}

TEST_F(Framing, BytesAfterTheLastCarriageReturn) {
    Serve({"one\rtwo\rtail"}, "");
    TStringList list;
    EXPECT_EQ(mlt_cmd("fs read X\r", list, 1), ExchangeEnd::Silence);
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"one", "two"}));
    TStringList list2;
    EXPECT_EQ(slt_cmd("fs read X\r", list2, 1, nullptr), ExchangeEnd::Silence);
    EXPECT_EQ(lines_of(list2), (std::vector<std::string>{"one", "two"}));

    Serve({"tail"}, "");
    ExchangeEnd end = ExchangeEnd::LineEnd;
    EXPECT_EQ(krx_cmd("fs read X\r", 1, &end), "tail");
    EXPECT_EQ(end, ExchangeEnd::Silence);
}

TEST_F(Framing, NulEndsTheTextAndHighBytesAreKept) {
    const std::string high = "\xC4\xD6\xDC\xE9\xFF\x80";
    Serve({std::string("ab\0cd", 5), high, std::string("\0x", 2), "z"});
    TStringList list;
    mlt_cmd("fs read X\r", list, 1);
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"ab", high, "", "z"}));
    EXPECT_EQ(krx_cmd("fs read X\r", 2), "ab");
}

TEST_F(Framing, LongLinesAreKeptWhole) {
    std::string l300, l70k;
    for (int i = 0; i < 300; ++i) l300.push_back(static_cast<char>('A' + i % 26));
    for (int i = 0; i < 70000; ++i) l70k.push_back(static_cast<char>('0' + i % 10));
    const std::string l255(255, 'q'), l256(256, 'r');
    Serve({l255, l256, l300, l70k, "end"});
    TStringList list;
    EXPECT_EQ(slt_cmd("fs read X\r", list, 1, nullptr), ExchangeEnd::Silence);
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Get(0), l255);
    EXPECT_EQ(list.Get(1), l256);
    EXPECT_EQ(list.Get(2), l300);
    EXPECT_EQ(list.Get(3), l70k);
    EXPECT_EQ(list.Get(4), "end");

    Serve({l300});
    EXPECT_EQ(krx_cmd("fs read X\r", 2), l300);
}

TEST_F(Framing, ProgressCountsTheLinesAddedBefore) {
    Serve({"l1", "l2", "l3"});
    TStringList list;
    std::vector<int> positions;
    std::vector<int> counts_seen;
    slt_cmd("fs read X\r", list, 1, [&](int p) {
        positions.push_back(p);
        counts_seen.push_back(list.Count());
    });
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2}));
    // Called before each line is added.
    EXPECT_EQ(counts_seen, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(lines_of(list), (std::vector<std::string>{"l1", "l2", "l3"}));
}

TEST_F(Framing, CommandIsWrittenUpToItsNul) {
    EXPECT_EQ(krx_cmd(std::string("md mach\r\0junk\r", 14), 2), "ok");
    ASSERT_TRUE(sim->WaitForCommands(1, milliseconds(1000)));
    EXPECT_FALSE(sim->WaitForCommands(2, milliseconds(100)));
    EXPECT_EQ(sim->Commands()[0].text, "md mach");
}

// A whole conversation: what the device heard, in order, and what came back.
TEST_F(Framing, ListReadDeleteConversation) {
    const auto logs = sim->Logs();
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_EQ(krx_cmd("md mach\r", 2), "ok");
    EXPECT_EQ(krx_cmd("fs stop\r", 2), "ok");
    TStringList listing;
    listing.SetSorted(true);
    EXPECT_EQ(mlt_cmd("fs list\r", listing, 1), ExchangeEnd::Silence);
    ASSERT_EQ(listing.Count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(listing.Get(i), logs[static_cast<std::size_t>(i)].start_code + " " +
                                      logs[static_cast<std::size_t>(i)].stop_code);

    const std::string name = logs[1].start_code;
    TStringList upload;
    EXPECT_EQ(slt_cmd("fs read " + name + "\r", upload, 1, nullptr), ExchangeEnd::Silence);
    EXPECT_EQ(upload.Lines(), logs[1].lines);
    EXPECT_EQ(krx_cmd("fs del " + name + "\r", 1), "ok");
    TStringList after;
    mlt_cmd("fs list\r", after, 1);
    EXPECT_EQ(after.Count(), 2);
    EXPECT_EQ(krx_cmd("fs bogus\r", 2), "?");

    const std::vector<std::string> expected = {"md mach", "fs stop", "fs list", "fs read " + name,
                                               "fs del " + name, "fs list", "fs bogus"};
    ASSERT_TRUE(sim->WaitForCommands(expected.size(), milliseconds(1000)));
    const auto cmds = sim->Commands();
    ASSERT_EQ(cmds.size(), expected.size());
    for (std::size_t i = 0; i < cmds.size(); ++i) {
        EXPECT_EQ(cmds[i].text, expected[i]);
        // Each exchange spends at least one idle read draining before it writes.
        if (i > 0) {
            EXPECT_GE(ms_between(cmds[i - 1].arrived, cmds[i].arrived), 25.0) << i;
        }
    }
}
