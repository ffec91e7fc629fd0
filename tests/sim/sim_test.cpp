// What only krx3-sim's own use reaches: sample logs as it shows them, logs
// read from a folder, and its text form between processes.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "catalogue/fatdss.h"
#include "sim/simulator.h"
#include "sim/wire.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

std::string label(const std::string& code) { return label_text(fatdt_of(code_value(code))); }

// Worked example: the first sample log starts at 0x4ACF53CA, 2017-06-15
// 10:30:20; a record every 2 s, so 30 records end 58 s later; the next
// log begins 26 h 17 min 4 s after that stop.
TEST(SimulatorLogs, SampleLogsFollowTheirWorkedExample) {
    const auto logs = krx3sim::SampleLogs(2, 30);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(label(logs[0].start_code) + " " + label(logs[0].stop_code) + " " + logs[0].lines.back().substr(0, 19),
              "2017-06-15 10:30:20 2017-06-15 10:31:18 2017-06-15 10:31:18");
    EXPECT_EQ(label(logs[1].start_code) + " " + logs[1].lines[1].substr(0, 19),
              "2017-06-16 12:48:22 2017-06-16 12:48:24");
}

// A log named YYYY_MM_DD_hh_mm_ss.log starts then and stops at its last
// record's stamp; one named otherwise starts at its file time (local time),
// and without a stamp stops 2 s a record later. Other files are no logs.
TEST(SimulatorLogs, LogsFromFolderTakeStartFromTheFileNameOrTheFileTime) {
    const fs::path dir = fs::temp_directory_path() / ("krx3sim_" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directory(dir));
    std::ofstream(dir / "2019_03_04_05_06_08.log", std::ios::binary)
        << "2019-03-04 05:06:08;a=1\r\n2019-03-04 07:00:00\r\n";
    std::ofstream(dir / "field.log", std::ios::binary) << "no stamp\r\n";
    std::ofstream(dir / "notes.txt") << "not a log\n";
    const auto logs = krx3sim::LogsFromFolder(dir.string());
    fs::remove_all(dir);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(label(logs[0].start_code) + " " + label(logs[0].stop_code), "2019-03-04 05:06:08 2019-03-04 07:00:00");
    EXPECT_EQ(logs[0].lines, (Lines{"2019-03-04 05:06:08;a=1", "2019-03-04 07:00:00"}));
    EXPECT_EQ(logs[1].lines, (Lines{"no stamp"}));
    const std::time_t now = std::time(nullptr);
    const std::tm tm = *std::localtime(&now);
    std::uint64_t start = 0, stop = 0, written = 0;
    ASSERT_TRUE(fat_file_time(code_value(logs[1].start_code), &start) &&
                fat_file_time(code_value(logs[1].stop_code), &stop) &&
                fat_file_time(dos_value(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec),
                              &written));
    EXPECT_LT(start > written ? start - written : written - start, 5 * 10000000ULL) << label(logs[1].start_code);
    EXPECT_EQ(stop, start) << "one line: a record at its start, which is its stop";
}

// Any bytes cross between the processes unchanged; damaged text is refused
// rather than half read.
TEST(SimulatorWire, BytesCrossUnchangedAndDamagedTextIsRefused) {
    std::string all, bytes;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    std::istringstream whole(krx3sim::wire::Text(all) + " x41");
    EXPECT_TRUE(krx3sim::wire::Text(whole, &bytes) && bytes == all);
    std::vector<krx3sim::Log> logs;
    for (const char* text : {"", "x0", "xzz", "41", "2 x41 x42 0", "1 x41 x42 2 x61", "1 x41 x42 -1", "one"}) {
        std::istringstream in(text), again(text);
        EXPECT_FALSE(krx3sim::wire::Text(in, &bytes) || krx3sim::wire::Logs(again, &logs)) << text;
    }
}

}  // namespace
