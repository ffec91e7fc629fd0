// krx3 as a user runs it: the program against the simulated device, with
// its output, its files and its exit status.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
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

using B = krx3sim::Behaviour;

// A simulated device with `logs`, behaving as `set` makes it.
std::unique_ptr<krx3sim::Simulator> Device(std::vector<krx3sim::Log> logs, void (*set)(B&) = nullptr) {
    auto d = std::make_unique<krx3sim::Simulator>(std::move(logs));
    B b;
    if (set) set(b);
    d->SetBehaviour(b);
    return d;
}

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
    // Worked by hand: 2017-06-15 10:30:20 is DOS value 0x4ACF53CA, code
    // EBQNYWG; its stop 10:30:22 is EBQNYWH. Each log holds a line every 2 s,
    // one at each end. The device lists them out of order.
    krx3sim::Simulator sim({
        {"EBQRKIA", "EBQRKIB", {"2017-06-16 08:00:00 a", "b"}},        // 2017-06-16 08:00:00 to 08:00:02
        {"EBQWZNX", "EBQXXZD", {"c", std::string("d\0\xE9", 3), ""}},  // 2017-06-17 23:59:58 to 06-18 00:00:02
        {"EBQNYWG", "EBQNYWH", {"first log", "x"}},
    });
    // EBQNYWG alone: one device keeps it when told to delete it, one sends no line of it, one hangs up in its reply to
    // a delete it carried out ("ok" answers take 3 bytes, a listing's line 16); one never answers, one hangs up in the
    // middle of a log of 2017-06-16 00:00:00, one at once, one in its listing's second line; one pauses inside each log
    // for longer than the patience; one falls silent after its listing and its first log.
    const std::vector<krx3sim::Log> one{{"EBQNYWG", "EBQNYWH", {"first log", "x"}}};
    const auto stuck = Device(one, [](B&b) { b.keep_on_delete = true; }), empty = Device({{"EBQNYWG", "EBQNYWH", {}}}),
               drops = Device(one, [](B&b) {
                   b.close_after_bytes = 17;
                   b.del_reply = std::string(40, 'd');
               });
    const auto silent = Device(krx3sim::SampleLogs(1, 200), [](B&b) { b.silent = true; }),
               cut = Device(krx3sim::SampleLogs(1, 200, 0x4AD00000), [](B&b) { b.close_after_bytes = 600; }),
               mute = Device(krx3sim::SampleLogs(1, 1), [](B&b) { b.close_after_bytes = 0; }),
               cut_list = Device(krx3sim::SampleLogs(3, 1), [](B&b) { b.close_after_bytes = 20; }),
               gap = Device(krx3sim::SampleLogs(2, 30),
                            [](B&b) {
                                b.pause_before_line = 15;
                                b.line_pause = std::chrono::milliseconds(4000);
                            }),
               tires = Device(krx3sim::SampleLogs(2, 5), [](B&b) { b.answer_commands = 6; });
    const auto on = [](const std::unique_ptr<krx3sim::Simulator>& d) { return " --port " + d->PortPath(); };
    // What a short read of each of gap's logs gives; the first also under the
    // log's own name (as a person might rename it): still no copy proven whole.
    const fs::path gapped = dir / "gapped", renamed = dir / "renamed";
    std::vector<std::string> wanted(2);
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 15; ++k) wanted[i] += gap->Logs()[i].lines[k] + "\r\n";
    for (const fs::path& d : {logs, gapped, renamed}) fs::create_directories(d);
    Spill(renamed / file_name(fatdt_of(code_value(gap->Logs()[0].start_code))), wanted[0]);
    Spill(logs / "2017_06_15_10_30_20.log", "first log\r\nx\r\n");  // EBQNYWG's copy
    Spill(logs / "2017_06_16_08_00_00.log", "kept\r\n");            // EBQRKIA's name, other content
    Spill(dir / "empty.reg", "Windows Registry Editor Version 5.00\r\n");
    // A machine whose one adapter port is the simulated device.
    Spill(dir / "sim.reg",
          RecordedExport({sim.PortPath()}, RecordedAdapter("VID_0403+PID_6015+SIM1A", sim.PortPath())));
    const std::string port = " --port " + sim.PortPath(), to = " --to " + logs.string(),
                      in = "delete --saved-in " + logs.string(),
                      reg = "KRX3_REGISTRY=", no_reg = reg + (dir / "empty.reg").string();
    const struct {
        std::string args;
        int status;
        std::string says, env = "";
    } cases[] = {
        {"list" + port, 0,
         "EBQNYWG  2017-06-15 10:30:20  2017-06-15 10:30:22  0h 0m 2s  2017_06_15_10_30_20.log\n"
         "EBQRKIA  2017-06-16 08:00:00  2017-06-16 08:00:02  0h 0m 2s  2017_06_16_08_00_00.log\n"
         "EBQWZNX  2017-06-17 23:59:58  2017-06-18 00:00:02  0h 0m 4s  2017_06_17_23_59_58.log\n"},
        {"ports", 0, "COM10  DB00XYZ0 *\nCOM3   DA01ABCD\n", reg + KRX3_TYPICAL_REG},
        {"pull --new --by-serial" + to, 0, "pulled 3, already there 0", reg + (dir / "sim.reg").string()},
        {"pull --new --by-serial" + to + port, 2, "serial number of the adapter", no_reg},
        // A file of other content at a log's name is not that log.
        {"pull --new" + to + port, 1, "pulled 1, already there 1, failed 1"},
        {"pull" + to + port + " EBQNYWG EBQRKIA", 1, "pulled 0, already there 1, failed 1"},
        {"pull" + to + port + " NOSUCHX", 1, "lists no such log"},
        {in + port + " EBQRKIA", 1, "differs"},
        {"delete --saved-in " + dir.string() + port + " EBQNYWG", 1, "no copy"},
        {in + port + " ZZZZZZZ", 1, "lists no such log"},
        {in + on(stuck) + " EBQNYWG", 1, "it is still listed"},
        {"pull" + to + on(empty) + " EBQNYWG", 1, "EBQNYWG: the device sent no line"},
        {in + on(empty) + " EBQNYWG", 1, "could not be read again"},
        {in + on(drops) + " EBQNYWG", 1, "whether the log is gone is not known"},
        {"list" + on(cut_list), 1, "was lost during the listing.\nThe list may be incomplete."},
        {"list" + on(mute), 3, "was lost during the listing"},
        {"list --colour", 2, "unknown option --colour"},
        {"pull" + port, 2, "--new"},
        {"pull --new --to " + (dir / "no" / "such").string() + port, 2, "does not exist"},
        {"pull --new --to " + (logs / "2017_06_16_08_00_00.log").string() + port, 2, "is not a folder"},
        {"list --port " + (dir / "none").string(), 2, "could not be opened:\n" + std::string(std::strerror(ENOENT))},
        {"list", 2, "no port", no_reg},
        {"list", 2, "not a registry export", reg + (logs / "2017_06_16_08_00_00.log").string()},
        {"pull --new" + to + on(silent), 3, "did not answer"},
        {"pull --new" + to + on(cut), 1, "nothing was saved"},
        // A log cut short by a pause is kept and told; the next one is whole,
        // and no copy of a short read is ever deleted by the rule.
        {"pull --new --to " + gapped.string() + on(gap), 1,
         "Only 15 of about 30 lines of log " + gap->Logs()[1].start_code},
        // The JSON tells the log already pulled when a later one ends the command.
        {"pull --new --json --to " + (dir / "tired").string() + on(tires), 3,
         "\"name\": \"" + tires->Logs()[0].start_code + "\",\n        \"result\": \"pulled\""},
        {"delete --saved-in " + renamed.string() + on(gap) + " " + gap->Logs()[0].start_code, 1,
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
    ASSERT_EQ(gap->Logs().size(), 2u) << "a log was deleted";
    // Each log's copy holds the lines before its pause, and nothing of the
    // other log; neither is in the record of what was pulled whole. They are
    // kept beside the logs' own names, which stay free for a whole read.
    for (int i = 0; i < 2; ++i) {
        std::string name = file_name(fatdt_of(code_value(gap->Logs()[i].start_code)));
        EXPECT_EQ(Slurp(gapped / name.insert(name.size() - 4, "-unproven")), wanted[i]) << name;
    }
    // Beside them only the record, which tells both as failed, and nothing as pulled.
    EXPECT_EQ(std::distance(fs::directory_iterator(gapped), {}), 3) << "another file";
    const std::string record = Slurp(gapped / "krx3-record.jsonl");
    EXPECT_TRUE(record.find("\"reason\":\"short\"") != std::string::npos && record.find("pulled") == std::string::npos)
        << record;
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
    std::istringstream lines(block);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("$ krx3 ", 0) == 0)
            steps.push_back({line.substr(7), ""});
        else if (!steps.empty())
            steps.back().second += line + "\n";
    ASSERT_EQ(steps.size(), 5u);
    for (auto [args, says] : steps) {
        SCOPED_TRACE(args);
        // (From past the name put in: the simulator's own port may be /dev/pts/4.)
        for (std::size_t p = args.find("/dev/pts/4"); p != std::string::npos;
             p = args.find("/dev/pts/4", p + sim.PortPath().size()))
            args.replace(p, 10, sim.PortPath());
        const auto run = Krx3(dir, args, "cd " + dir.string() + " &&");
        EXPECT_EQ(run.first, 0) << run.second;
        EXPECT_EQ(run.second, says);
    }
    fs::remove_all(dir);
}

// krx3 report: each logger's folder with its record, what each entry says,
// and the last line a crash cut short told and skipped, never fatal; a
// folder without a record is a failure.
TEST(Krx3, ReportTellsWhatEachLoggersRecordSays) {
    const fs::path dir = fs::temp_directory_path() / ("krx3-report-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "SIM1");
    fs::create_directories(dir / "EMPTY");
    Spill(dir / "SIM1" / "krx3-record.jsonl",
          "{\"event\":\"pulled\",\"name\":\"EBQNYWG\",\"start\":\"2017-06-15T10:30:20\",\"stop\":"
          "\"2017-06-15T10:30:22\",\"file\":\"2017_06_15_10_30_20.log\",\"lines\":2,\"bytes\":14,\"sha256\":\"ab12\","
          "\"when\":\"2026-12-08T10:00:00Z\"}\n"
          "{\"event\":\"failed\",\"step\":\"pull\",\"name\":\"EBQRKIA\",\"reason\":\"line_lost\",\"error\":"
          "\"Input/output error\",\"when\":\"2026-12-08T10:01:00Z\"}\n"
          "{\"event\":\"deleted\",\"name\":\"EBQNYWG\",\"file\":\"2017_06_15_10_30_20.log\",\"sha256\":\"ab12\","
          "\"when\":\"2026-12-08T10:02:00Z\"}\n"
          "{\"event\":\"pulled\",\"name\":\"EBQ");
    const std::string report = "report " + dir.string();
    const struct {
        std::string args;
        int status;
        std::vector<std::string> says;
    } cases[] = {
        {report,
         0,
         {"SIM1  " + (dir / "SIM1").string() + ": pulled 1, deleted 1, failed 1\n",
          "  pulled  EBQNYWG  2017-06-15T10:30:20 to 2017-06-15T10:30:22  2 lines, 14 bytes  2017_06_15_10_30_20.log"
          "  sha256 ab12  at 2026-12-08T10:00:00Z\n",
          "  failed  EBQRKIA  pull: line_lost (Input/output error)  at 2026-12-08T10:01:00Z\n",
          "  deleted  EBQNYWG  its copy 2017_06_15_10_30_20.log had sha256 ab12  at 2026-12-08T10:02:00Z\n",
          "  1 line of the record could not be read"}},
        {report + " --json",
         0,
         {"\"serial\": \"SIM1\"", "\"unreadable_lines\": 1", "\"reason\": \"line_lost\"", "\"bytes\": 14"}},
        {"report " + (dir / "EMPTY").string(), 1, {"no record (krx3-record.jsonl)"}},
        {"report", 2, {"report needs one folder"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto [status, said] = Krx3(dir, c.args, "");
        EXPECT_EQ(status, c.status) << said;
        for (const std::string& words : c.says) EXPECT_NE(said.find(words), std::string::npos) << said;
    }
    fs::remove_all(dir);
}

}  // namespace
