// What only krx3-sim's own use reaches: sample logs as it shows them, logs
// read from a folder, and refusing damaged text from another process.
#include <gtest/gtest.h>

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

std::string label(const std::string& code) { return label_text(fatdt_of(code_value(code))); }

}  // namespace

// Worked example: the first sample log starts at 0x4ACF53CA, 2017-06-15
// 10:30:20; a record every 10 s, so 30 records end 290 s later; the next
// log begins 26 h 17 min 4 s after that stop.
TEST(SimulatorLogs, SampleLogsFollowTheirWorkedExample) {
    const auto logs = krx3sim::SampleLogs(2, 30);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(label(logs[0].start_code), "2017-06-15 10:30:20");
    EXPECT_EQ(label(logs[0].stop_code), "2017-06-15 10:35:10");
    EXPECT_EQ(logs[0].lines.back().substr(0, 19), "2017-06-15 10:35:10");
    EXPECT_EQ(label(logs[1].start_code), "2017-06-16 12:52:14");
    EXPECT_EQ(logs[1].lines[1].substr(0, 19), "2017-06-16 12:52:24");
}

// A log named YYYY_MM_DD_hh_mm_ss.log starts then and stops at its last
// record's stamp; one named otherwise starts at its file time, and without a
// stamp stops 10 s a record later. Other files are no logs.
TEST(SimulatorLogs, LogsFromFolderTakeStartFromTheFileNameOrTheFileTime) {
    const fs::path dir = fs::temp_directory_path() / ("krx3sim_" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directory(dir));
    std::ofstream(dir / "2019_03_04_05_06_08.log", std::ios::binary)
        << "2019-03-04 05:06:08;a=1\r\n2019-03-04 07:00:00;a=2\r\n";
    std::ofstream(dir / "field.log", std::ios::binary) << "no stamp\r\n";
    std::ofstream(dir / "notes.txt") << "not a log\n";
    const auto logs = krx3sim::LogsFromFolder(dir.string());
    fs::remove_all(dir);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(label(logs[0].start_code), "2019-03-04 05:06:08");
    EXPECT_EQ(label(logs[0].stop_code), "2019-03-04 07:00:00");
    EXPECT_EQ(logs[0].lines, (std::vector<std::string>{"2019-03-04 05:06:08;a=1", "2019-03-04 07:00:00;a=2"}));
    // The file was written just now: its time, in local time, within seconds.
    const std::time_t now = std::time(nullptr);
    const std::tm tm = *std::localtime(&now);
    std::uint64_t start = 0, stop = 0, written = 0;
    ASSERT_TRUE(fat_file_time(code_value(logs[1].start_code), &start));
    ASSERT_TRUE(fat_file_time(dos_value(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec),
                              &written));
    EXPECT_LT(start > written ? start - written : written - start, 5 * 10000000ULL) << label(logs[1].start_code);
    ASSERT_TRUE(fat_file_time(code_value(logs[1].stop_code), &stop));
    EXPECT_EQ(stop - start, 10 * 10000000ULL);
    EXPECT_EQ(logs[1].lines, (std::vector<std::string>{"no stamp"}));
}

// A damaged text from the other process is refused rather than half read.
TEST(SimulatorWire, DamagedTextIsRefused) {
    using namespace krx3sim;
    for (const char* text : {"", "x0", "xzz", "41", "x41 tail"}) {
        std::istringstream in(text);
        std::string out;
        // Only the last has a whole first word ("A"); the rest are no text.
        EXPECT_EQ(wire::Text(in, &out), std::string(text) == "x41 tail") << text;
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
