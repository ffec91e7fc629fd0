// The simulated device's own contents (sample logs and logs from a folder)
// and their text form for a simulator in another process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "fatdss.h"
#include "simulator.h"
#include "wire.h"

namespace fs = std::filesystem;

namespace {

// "YYYY-MM-DD hh:mm:ss" of a DOS date-time value.
std::string dos_text(std::uint32_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (v >> 25), (v >> 21) & 0xF,
                  (v >> 16) & 0x1F, (v >> 11) & 0x1F, (v >> 5) & 0x3F, 2 * (v & 0x1F));
    return buf;
}

}  // namespace

TEST(SimulatorLogs, SampleLogsCarryRealisticCodesAndRecords) {
    const auto logs = krx3sim::SampleLogs(4, 30);
    ASSERT_EQ(logs.size(), 4u);
    EXPECT_EQ(code_value(logs[0].start_code), 0x4ACF53CAu);
    EXPECT_EQ(logs[0].lines.front().substr(0, 19), "2017-06-15 10:30:20");
    std::uint32_t previous_stop = 0;
    for (const auto& log : logs) {
        ASSERT_EQ(log.start_code.size(), 7u);
        ASSERT_EQ(log.stop_code.size(), 7u);
        ASSERT_EQ(log.lines.size(), 30u);
        const std::uint32_t start = code_value(log.start_code);
        const std::uint32_t stop = code_value(log.stop_code);
        EXPECT_GT(stop, start);
        EXPECT_GT(start, previous_stop);
        previous_stop = stop;
        // The first record is stamped with the start, the last with the stop.
        EXPECT_EQ(log.lines.front().substr(0, 19), dos_text(start));
        EXPECT_EQ(log.lines.back().substr(0, 19), dos_text(stop));
        for (const auto& l : log.lines) {
            EXPECT_NE(l.find(";ch1="), std::string::npos);
            for (unsigned char c : l) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << l;
        }
    }
}

TEST(SimulatorLogs, LogsFromFolderTakeStartFromTheFileNameOrTheFileTime) {
    const fs::path dir = fs::temp_directory_path() / ("krx3sim_" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directory(dir));
    {
        std::ofstream f(dir / "2019_03_04_05_06_08.log", std::ios::binary);
        f << "2019-03-04 05:06:08;a=1\r\n2019-03-04 07:00:00;a=2\r\n";
    }
    {
        std::ofstream f(dir / "field.log", std::ios::binary);
        f << "no stamp\r\n";
    }
    {
        std::ofstream f(dir / "notes.txt");
        f << "not a log\n";
    }
    // A log named otherwise starts at its file's time, in local time: half
    // a minute into a minute of yesterday, so that the second of jitter in
    // setting it crosses no minute.
    const std::time_t now = std::time(nullptr) - 86400;
    std::tm tm = *std::localtime(&now);
    tm.tm_sec = 30;
    const std::time_t when = std::mktime(&tm);
    tm = *std::localtime(&when);
    fs::last_write_time(dir / "field.log",
                        fs::file_time_type::clock::now() +
                            std::chrono::duration_cast<fs::file_time_type::duration>(
                                std::chrono::system_clock::from_time_t(when) - std::chrono::system_clock::now()));

    const auto logs = krx3sim::LogsFromFolder(dir.string());
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(dos_text(code_value(logs[0].start_code)), "2019-03-04 05:06:08");
    EXPECT_EQ(dos_text(code_value(logs[0].stop_code)), "2019-03-04 07:00:00");
    EXPECT_EQ(logs[0].lines, (std::vector<std::string>{"2019-03-04 05:06:08;a=1", "2019-03-04 07:00:00;a=2"}));
    const std::uint32_t start = code_value(logs[1].start_code);
    const std::uint32_t expected = dos_value(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                             tm.tm_sec);
    // DOS times step by two seconds: 29.x and 30.x read as 28 or 30.
    EXPECT_LE(expected - start, 1u) << dos_text(start) << " vs " << dos_text(expected);
    EXPECT_GT(code_value(logs[1].stop_code), start);
    EXPECT_EQ(logs[1].lines, (std::vector<std::string>{"no stamp"}));
    fs::remove_all(dir);
}

// What crosses between a simulator and its proxy comes back byte for byte,
// and a damaged text is refused rather than half read.
TEST(SimulatorWire, EveryFieldRoundTrips) {
    using namespace krx3sim;
    const std::string bytes("a b\0\r\n\xFF\x80 x", 10);
    std::vector<Log> logs = SampleLogs(2, 3);
    logs.push_back(Log{"AAAAAAA", "BBBBBBB", {}});
    logs.push_back(Log{"", "", {"", bytes, std::string(70000, 'z'), " "}});
    std::istringstream in_logs(wire::Logs(logs));
    std::vector<Log> back;
    ASSERT_TRUE(wire::Logs(in_logs, &back));
    ASSERT_EQ(back.size(), logs.size());
    for (std::size_t i = 0; i < logs.size(); ++i) {
        EXPECT_EQ(back[i].start_code, logs[i].start_code);
        EXPECT_EQ(back[i].stop_code, logs[i].stop_code);
        EXPECT_TRUE(back[i].lines == logs[i].lines) << i;
    }

    Behaviour b;
    b.delay_before_reply = std::chrono::milliseconds(40);
    b.pause_every_lines = 3;
    b.pause = std::chrono::milliseconds(250);
    b.paced = true;
    b.line_end = "\n\r";
    b.silent = true;
    b.endless_reply = true;
    b.close_after_bytes = 17;
    b.list_delay = std::chrono::milliseconds(1500);
    b.read_delay = std::chrono::milliseconds(7);
    b.extra_list_lines = {"", "OK", bytes};
    b.del_reply = "ERR 5 cannot delete";
    b.keep_on_delete = true;
    std::istringstream in_b(wire::Behaviours(b));
    Behaviour c;
    ASSERT_TRUE(wire::Behaviours(in_b, &c));
    EXPECT_EQ(c.delay_before_reply, b.delay_before_reply);
    EXPECT_EQ(c.pause_every_lines, 3);
    EXPECT_EQ(c.pause, b.pause);
    EXPECT_TRUE(c.paced && c.silent && c.endless_reply);
    EXPECT_EQ(c.line_end, "\n\r");
    EXPECT_EQ(c.close_after_bytes, 17);
    EXPECT_EQ(c.list_delay, b.list_delay);
    EXPECT_EQ(c.read_delay, b.read_delay);
    EXPECT_EQ(c.extra_list_lines, b.extra_list_lines);
    EXPECT_EQ(c.del_reply, b.del_reply);
    EXPECT_TRUE(c.keep_on_delete);

    std::istringstream in_c(wire::Commands({{"md mach", 1500}, {"", 0}, {bytes, 123456789}}));
    std::vector<wire::AgedCommand> cmds;
    ASSERT_TRUE(wire::Commands(in_c, &cmds));
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[0].text, "md mach");
    EXPECT_EQ(cmds[0].age_us, 1500);
    EXPECT_EQ(cmds[1].text, "");
    EXPECT_EQ(cmds[2].text, bytes);
    EXPECT_EQ(cmds[2].age_us, 123456789);
}

TEST(SimulatorWire, DamagedTextIsRefused) {
    using namespace krx3sim;
    for (const char* text : {"", "x0", "xzz", "41", "x41 tail"}) {
        std::istringstream in(text);
        std::string out;
        const bool ok = wire::Text(in, &out);
        // Only the last has a whole first word ("A"); the rest are no text.
        EXPECT_EQ(ok, std::string(text) == "x41 tail") << text;
    }
    std::vector<Log> logs;
    for (const char* text : {"2 x41 x42 0", "1 x41 x42 2 x61", "1 x41 x42 -1", "one"}) {
        std::istringstream in(text);
        EXPECT_FALSE(wire::Logs(in, &logs)) << text;
    }
    std::vector<wire::AgedCommand> cmds;
    std::istringstream short_commands("2 x61 5");
    EXPECT_FALSE(wire::Commands(short_commands, &cmds));
    Behaviour b;
    std::istringstream short_behaviour("0 0 0 0 x0d 0 0");
    EXPECT_FALSE(wire::Behaviours(short_behaviour, &b));
}
