// The simulated device's own contents: sample logs and logs from a folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "fatdss.h"
#include "simulator.h"

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

TEST(SimulatorLogs, LogsFromFolderTakeStartFromTheFileName) {
    char tmpl[] = "/tmp/krx3simXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    {
        std::ofstream f(dir + "/2019_03_04_05_06_08.log", std::ios::binary);
        f << "2019-03-04 05:06:08;a=1\r\n2019-03-04 07:00:00;a=2\r\n";
    }
    {
        std::ofstream f(dir + "/notes.txt");
        f << "not a log\n";
    }
    const auto logs = krx3sim::LogsFromFolder(dir);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(dos_text(code_value(logs[0].start_code)), "2019-03-04 05:06:08");
    EXPECT_EQ(dos_text(code_value(logs[0].stop_code)), "2019-03-04 07:00:00");
    EXPECT_EQ(logs[0].lines, (std::vector<std::string>{"2019-03-04 05:06:08;a=1", "2019-03-04 07:00:00;a=2"}));
    std::remove((dir + "/2019_03_04_05_06_08.log").c_str());
    std::remove((dir + "/notes.txt").c_str());
    ::rmdir(dir.c_str());
}
