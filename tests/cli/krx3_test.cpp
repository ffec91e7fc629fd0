// krx3 as a user runs it: the program against the simulated device, with
// its output, its files and its exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "catalogue/fatdss.h"
#include "sim/recorded_export.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Spill(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// Runs krx3 with `args` (shell words): its exit status, and its output and
// messages together. `env` is put before the command.
std::pair<int, std::string> Krx3(const fs::path& dir, const std::string& args, const std::string& env) {
    const std::string out = (dir / "out").string();
    const int raw = std::system((env + " " KRX3_PROGRAM " " + args + " >" + out + " 2>&1").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), Slurp(out)};
}

// Each command with its status and what it says, each row standing alone.
// A file is never replaced: the same content counts as there, other content
// fails. A log is deleted only when its copy is equal. A failure saves
// nothing.
TEST(Krx3, CommandsTellTheirOutcomeWithTheirStatus) {
    const fs::path dir = fs::temp_directory_path() / ("krx3-test-" + std::to_string(::getpid())), logs = dir / "logs";
    fs::remove_all(dir);
    fs::create_directories(logs);
    // Worked by hand: 2017-06-15 10:30:20 is DOS value 0x4ACF53CA, code
    // EBQNYWG; its stop 10:30:22 is EBQNYWH. Each log holds a line every 2 s,
    // one at each end. The device lists them out of order.
    krx3sim::Simulator sim({
        {"EBQRKIA", "EBQRKIB", {"2017-06-16 08:00:00 a", "b"}},        // 2017-06-16 08:00:00 to 08:00:02
        {"EBQWZNX", "EBQXXZD", {"c", std::string("d\0\xE9", 3), ""}},  // 2017-06-17 23:59:58 to 06-18 00:00:02
        {"EBQNYWG", "EBQNYWH", {"first log", "x"}},
    });
    using B = krx3sim::Behaviour;
    const auto device = [](
                            std::vector<krx3sim::Log> logs, const std::function<void(B&)>& set = [](B&) {}) {
        auto d = std::make_unique<krx3sim::Simulator>(std::move(logs));
        B b;
        set(b);
        d->SetBehaviour(b);
        return d;
    };
    // EBQNYWG alone: one device deletes it, one keeps it when told to
    // delete it, one sends no line of it, one hangs up in its reply to a
    // delete it carried out ("ok" answers take 3 bytes, a listing's line 16);
    // one never answers, one hangs up in the middle of a log of 2017-06-16
    // 00:00:00, one at once, one in its listing's second line; one pauses
    // inside each log for longer than the patience; one falls silent after
    // its listing and its first log.
    const std::vector<krx3sim::Log> one{{"EBQNYWG", "EBQNYWH", {"first log", "x"}}};
    const auto plain = device(one), stuck = device(one, [](B&b) { b.keep_on_delete = true; }),
               empty = device({{"EBQNYWG", "EBQNYWH", {}}}), drops = device(one, [](B&b) {
                                                                 b.close_after_bytes = 17;
                                                                 b.del_reply = std::string(40, 'd');
                                                             });
    const auto silent = device(krx3sim::SampleLogs(1, 200), [](B&b) { b.silent = true; }),
               cut = device(krx3sim::SampleLogs(1, 200, 0x4AD00000), [](B&b) { b.close_after_bytes = 600; }),
               mute = device(krx3sim::SampleLogs(1, 1), [](B&b) { b.close_after_bytes = 0; }),
               cut_list = device(krx3sim::SampleLogs(3, 1), [](B&b) { b.close_after_bytes = 20; }),
               gap = device(krx3sim::SampleLogs(2, 30),
                            [](B&b) {
                                b.pause_before_line = 15;
                                b.line_pause = std::chrono::milliseconds(4000);
                            }),
               tires = device(krx3sim::SampleLogs(2, 5), [](B&b) { b.answer_commands = 6; });
    const fs::path gapped = dir / "gapped", renamed = dir / "renamed";
    fs::create_directories(gapped);
    // What a short read of the first log gives, under the log's own name (as
    // a person might rename it): still no copy proven whole.
    fs::create_directories(renamed);
    {
        std::string first;
        for (int k = 0; k < 15; ++k) first += gap->Logs()[0].lines[k] + "\r\n";
        Spill(renamed / file_name(fatdt_of(code_value(gap->Logs()[0].start_code))), first);
    }
    Spill(logs / "2017_06_15_10_30_20.log", "first log\r\nx\r\n");  // EBQNYWG's copy
    Spill(logs / "2017_06_16_08_00_00.log", "kept\r\n");            // EBQRKIA's name, other content
    Spill(dir / "empty.reg", "Windows Registry Editor Version 5.00\r\n");
    // A machine whose one adapter port is the simulated device.
    Spill(dir / "sim.reg",
          RecordedExport({sim.PortPath()}, RecordedAdapter("VID_0403+PID_6015+SIM1A", sim.PortPath())));
    const std::string port = " --port " + sim.PortPath(), to = " --to " + logs.string() + port,
                      in = " --saved-in " + logs.string() + port,
                      saved = "delete --saved-in " + logs.string() + " --port ";
    const struct {
        std::string args;
        int status;
        std::string says;
        std::string env = "";
    } cases[] = {
        {"list" + port, 0,
         "EBQNYWG  2017-06-15 10:30:20  2017-06-15 10:30:22  0h 0m 2s  2017_06_15_10_30_20.log\n"
         "EBQRKIA  2017-06-16 08:00:00  2017-06-16 08:00:02  0h 0m 2s  2017_06_16_08_00_00.log\n"
         "EBQWZNX  2017-06-17 23:59:58  2017-06-18 00:00:02  0h 0m 4s  2017_06_17_23_59_58.log\n"},
        {"list --json" + port, 0,
         "[\n    {\n        \"duration_s\": 2,\n        \"file\": \"2017_06_15_10_30_20.log\",\n        \"name\": "
         "\"EBQNYWG\",\n        \"start\": \"2017-06-15T10:30:20\",\n        \"stop\": \"2017-06-15T10:30:22\"\n    "
         "},"},
        {"ports", 0, "COM10  DB00XYZ0 *\nCOM3   DA01ABCD\n", "KRX3_REGISTRY=" KRX3_TYPICAL_REG},
        {"pull --new --by-serial --to " + logs.string(), 0, "pulled 3, already there 0",
         "KRX3_REGISTRY=" + (dir / "sim.reg").string()},
        {"pull --new --by-serial" + to, 2, "serial number of the adapter",
         "KRX3_REGISTRY=" + (dir / "empty.reg").string()},
        // A file of other content at a log's name is not that log.
        {"pull --new" + to, 1, "pulled 1, already there 1, failed 1"},
        {"pull" + to + " EBQNYWG EBQRKIA", 1, "pulled 0, already there 1, failed 1"},
        {"pull" + to + " NOSUCHX", 1, "lists no such log"},
        {"delete" + in + " EBQRKIA", 1, "differs"},
        {"delete --saved-in " + dir.string() + port + " EBQNYWG", 1, "no copy"},
        {"delete" + in + " ZZZZZZZ", 1, "lists no such log"},
        {saved + stuck->PortPath() + " EBQNYWG", 1, "it is still listed"},
        {"pull --to " + logs.string() + " --port " + empty->PortPath() + " EBQNYWG", 1,
         "EBQNYWG: the device sent no line"},
        {saved + empty->PortPath() + " EBQNYWG", 1, "could not be read again"},
        {saved + drops->PortPath() + " EBQNYWG", 1, "whether the log is gone is not known"},
        {"list --port " + cut_list->PortPath(), 1, "was lost during the listing.\nThe list may be incomplete."},
        {"list --port " + mute->PortPath(), 3, "was lost during the listing"},
        {saved + plain->PortPath() + " EBQNYWG", 0, "EBQNYWG  deleted"},
        {"list --colour", 2, "unknown option --colour"},
        {"pull" + port, 2, "--new"},
        {"pull --new --to " + (dir / "made").string() + " --port " + stuck->PortPath(), 0,
         "pulled 1, already there 0, failed 0"},
        {"pull --new --to " + (dir / "no" / "such").string() + port, 2, "does not exist"},
        {"pull --new --to " + (logs / "2017_06_16_08_00_00.log").string() + port, 2, "is not a folder"},
        {"list --port " + (dir / "none").string(), 2, "could not be opened:\n" + std::string(std::strerror(ENOENT))},
        {"list", 2, "no port", "KRX3_REGISTRY=" + (dir / "empty.reg").string()},
        {"list", 2, "not a registry export", "KRX3_REGISTRY=" + (logs / "2017_06_16_08_00_00.log").string()},
        {"pull --new --to " + logs.string() + " --port " + silent->PortPath(), 3, "did not answer"},
        {"pull --new --to " + logs.string() + " --port " + cut->PortPath(), 1, "nothing was saved"},
        // A log cut short by a pause is kept and told; the next one is whole,
        // and no copy of a short read is ever deleted by the rule.
        {"pull --new --to " + gapped.string() + " --port " + gap->PortPath(), 1,
         "Only 15 of about 30 lines of log " + gap->Logs()[1].start_code},
        // The JSON tells the log already pulled when a later one ends the command.
        {"pull --new --json --to " + (dir / "tired").string() + " --port " + tires->PortPath(), 3,
         "\"name\": \"" + tires->Logs()[0].start_code + "\",\n        \"result\": \"pulled\""},
        {"delete --saved-in " + renamed.string() + " --port " + gap->PortPath() + " " + gap->Logs()[0].start_code, 1,
         "without a whole read its copy cannot be proven whole; nothing was deleted."},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.args);
        const auto [status, said] = Krx3(dir, k.args, k.env);
        EXPECT_EQ(status, k.status) << said;
        EXPECT_NE(said.find(k.says), std::string::npos) << said;
    }
    EXPECT_EQ(Slurp(logs / "2017_06_17_23_59_58.log"), std::string("c\r\nd\0\xE9\r\n\r\n", 10));
    EXPECT_EQ(Slurp(logs / "SIM1" / "2017_06_17_23_59_58.log"), Slurp(logs / "2017_06_17_23_59_58.log"));
    EXPECT_EQ(std::distance(fs::directory_iterator(logs), {}), 5) << "a file left beside, or no record";
    const auto gap_logs = gap->Logs();
    ASSERT_EQ(gap_logs.size(), 2u) << "a log was deleted";
    // Each log's copy holds the lines before its pause, and nothing of the
    // other log; neither is in the record of what was pulled whole.
    // They are kept beside the logs' own names, which stay free for a whole read.
    std::vector<std::string> copies, wanted(2);
    for (const auto& f : fs::directory_iterator(gapped)) {
        copies.push_back(Slurp(f.path()));
        EXPECT_NE(f.path().filename().string().find("-unproven.log"), std::string::npos) << f.path();
    }
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 15; ++k) wanted[i] += gap_logs[i].lines[k] + "\r\n";
    std::sort(copies.begin(), copies.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(copies, wanted);
    EXPECT_FALSE(fs::exists(gapped / "krx3-record.jsonl"));
    fs::remove_all(dir);
}

// The README's example, run as written in a fresh folder against the
// simulator it names (sample logs of 120 lines; its port for the README's),
// says every line the README shows.
TEST(Krx3, TheReadmeExampleRunsAsWritten) {
    const std::string readme = Slurp(KRX3_README);
    const std::size_t from = readme.find("```\n$ krx3 list --port /dev/pts/4\n");
    ASSERT_NE(from, std::string::npos) << "the example is not in the README";
    const std::string block = readme.substr(from + 4, readme.find("```", from + 4) - from - 4);
    const fs::path dir = fs::temp_directory_path() / ("krx3-readme-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    krx3sim::Simulator sim(krx3sim::SampleLogs(3, 120));
    std::vector<std::pair<std::string, std::string>> steps;  // a command and what it says
    std::size_t at = 0;
    while (at < block.size()) {
        const std::size_t end = block.find('\n', at);
        const std::string line = block.substr(at, end - at);
        at = end + 1;
        if (line.rfind("$ krx3 ", 0) == 0)
            steps.push_back({line.substr(7), ""});
        else if (!steps.empty())
            steps.back().second += line + "\n";
    }
    ASSERT_EQ(steps.size(), 5u);
    for (auto [args, says] : steps) {
        SCOPED_TRACE(args);
        for (std::size_t p = args.find("/dev/pts/4"); p != std::string::npos; p = args.find("/dev/pts/4"))
            args.replace(p, 10, sim.PortPath());
        const auto run = Krx3(dir, args, "cd " + dir.string() + " &&");
        EXPECT_EQ(run.first, 0) << run.second;
        EXPECT_EQ(run.second, says);
    }
    fs::remove_all(dir);
}

}  // namespace
