// krx3 watch as a user runs it: the program in the background beside
// simulated loggers whose adapters a recorded export names, ended with
// Ctrl-C; its JSON lines read back as data. The watch's rules are the
// offload's tests: here is what only the program does.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/fatdss.h"
#include "link/serial_os.h"
#include "sim/recorded_export.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;
using Event = std::map<std::string, std::string>;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Waits until `done` holds, at most 60 s.
bool Within(const std::function<bool()>& done) {
    using Clock = std::chrono::steady_clock;
    for (const auto until = Clock::now() + std::chrono::seconds(60); !done();
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (Clock::now() > until) return false;
    return true;
}

// krx3 watch --json running in the background, its output in DIR/out.
class Watching {
public:
    Watching(const fs::path& dir, const fs::path& reg, const std::string& args) : dir_(dir) {
        std::system(("(KRX3_REGISTRY=" + reg.string() + " " KRX3_PROGRAM " watch --json " + args + " >" +
                     (dir / "out").string() + " & echo $! >" + (dir / "pid").string() + "; wait $!; echo $? >" +
                     (dir / "status").string() + ") &")
                        .c_str());
    }
    ~Watching() {
        if (Slurp(dir_ / "status").empty()) Stop();
    }
    // The whole lines told so far, each an object; with `serial`, its
    // events `event` only.
    std::vector<Event> Told(const std::string& serial = "", const std::string& event = "") const {
        std::string text = Slurp(dir_ / "out"), line;
        text.erase(text.rfind('\n') + 1);
        std::vector<Event> found;
        for (std::istringstream lines(text); std::getline(lines, line);) {
            const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            EXPECT_FALSE(o.isEmpty()) << "not a JSON object: " << line;
            Event e;
            for (auto it = o.begin(); it != o.end(); ++it)
                e[it.key().toStdString()] = it->toVariant().toString().toStdString();
            if (serial.empty() || (e["serial"] == serial && e["event"] == event)) found.push_back(e);
        }
        return found;
    }
    bool Has(const std::string& serial, const std::string& event) {
        return Within([&] { return !Told(serial, event).empty(); });
    }
    // Ctrl-C: the exit status (-1: it did not end in time).
    int Stop() {
        std::string pid, status;
        if (Within([&] { return !(pid = Slurp(dir_ / "pid")).empty(); })) ::kill(std::stoi(pid), SIGINT);
        return Within([&] { return !(status = Slurp(dir_ / "status")).empty(); }) ? std::stoi(status) : -1;
    }

private:
    fs::path dir_;
};

// The export naming the adapters, each port with its serial number: written
// whole and renamed into place, as a scan must never read half of it.
void Plug(const fs::path& reg, const std::vector<std::pair<const krx3sim::Simulator*, std::string>>& adapters) {
    std::vector<std::string> ports;
    std::string keys;
    for (const auto& [sim, serial] : adapters) {
        ports.push_back(sim->PortPath());
        keys += RecordedAdapter("VID_0403+PID_6015+" + serial + "A", sim->PortPath());
    }
    ASSERT_TRUE(WriteWhole(reg.string(), RecordedExport(ports, keys)));
}

// The name of a log's copy.
std::string FileOf(const krx3sim::Log& log) { return file_name(fatdt_of(code_value(log.start_code))); }

struct Folder {
    Folder() { fs::create_directories(to); }
    ~Folder() { fs::remove_all(path); }
    // A name beyond ASCII: JSON must give the path back as it is.
    const fs::path path = fs::temp_directory_path() / ("krx3-watch-Messdaten-\xC3\xA9-" + std::to_string(::getpid())),
                   reg = path / "ports.reg", to = path / "to";
};

// What only the program does with the watch's events (its rules are the
// offload's tests): each as a JSON line with its fields, a path beyond ASCII
// as it is; a failed scan told without an adapter; and after Ctrl-C the exit
// status 1, as something failed.
TEST(Krx3Watch, TellsEachEventAsAJsonLineAndEndsWith1AfterAFailure) {
    const Folder f;
    krx3sim::Simulator a(krx3sim::SampleLogs(2, 20)), held(krx3sim::SampleLogs(1, 20)), gap(krx3sim::SampleLogs(1, 20));
    krx3sim::Behaviour pauses;  // inside its log, for longer than the patience
    pauses.pause_before_line = 10;
    pauses.line_pause = std::chrono::milliseconds(4000);
    gap.SetBehaviour(pauses);
    const std::vector<krx3sim::Log> logs = a.Logs();
    fs::create_directories(f.to / "SERIALA");
    std::ofstream(f.to / "SERIALA" / FileOf(logs[1])) << "other\r\n";
    ASSERT_TRUE(WriteWhole(f.reg.string(), "not an export\n"));
    Watching w(f.path, f.reg, "--delete-verified --to " + f.to.string());
    ASSERT_TRUE(Within([&] { return !w.Told().empty(); }));
    Event e = w.Told()[0];
    EXPECT_TRUE(e["event"] == "failed" && !e.count("serial"));
    EXPECT_EQ(e["reason"].find("The serial ports could not be read"), 0u);
    const com_handle_t holder = serial_os::Open(held.PortPath(), nullptr);
    ASSERT_NE(holder, INVALID_COM_HANDLE);
    Plug(f.reg, {{&a, "SERIALA"}, {&held, "HELD"}, {&gap, "GAP"}});
    ASSERT_TRUE(w.Has("SERIALA", "done") && w.Has("HELD", "done") && w.Has("GAP", "done"));
    serial_os::Close(holder);
    EXPECT_EQ(w.Told("SERIALA", "connected").at(0)["folder"], (f.to / "SERIALA").string());
    e = w.Told("SERIALA", "pulled").at(0);
    EXPECT_EQ(e["name"] + " " + e["file"] + " " + e["lines"],
              logs[0].start_code + " " + (f.to / "SERIALA" / FileOf(logs[0])).string() + " 20");
    EXPECT_EQ(w.Told("SERIALA", "deleted").at(0)["name"], logs[0].start_code);
    e = w.Told("SERIALA", "failed").at(0);
    EXPECT_EQ(e["name"], logs[1].start_code);
    EXPECT_NE(e["reason"].find("exists with other content"), std::string::npos) << e["reason"];
    e = w.Told("SERIALA", "done").at(0);
    EXPECT_EQ(e["pulled"] + e["already_there"] + e["deleted"] + e["failed"] + e["not_proven_whole"], "10110");
    EXPECT_NE(w.Told("HELD", "failed").at(0)["reason"].find("could not be opened"), std::string::npos);
    e = w.Told("GAP", "not_proven_whole").at(0);
    EXPECT_EQ(e["lines"] + " of " + e["expected_lines"], "10 of 20");
    EXPECT_NE(e["reason"].find("Only 10 of about 20 lines"), std::string::npos) << e["reason"];
    EXPECT_EQ(w.Told("GAP", "done").at(0)["not_proven_whole"], "1");
    EXPECT_EQ(w.Stop(), 1) << "logs failed";
}

// Ctrl-C in the middle of two logs coming at once: the watch ends at once,
// keeps nothing of either, and ends with 0 as nothing had failed.
TEST(Krx3Watch, InterruptDuringTransfersKeepsNothing) {
    const Folder f;
    krx3sim::Simulator one(krx3sim::SampleLogs(1, 5000)), two(krx3sim::SampleLogs(1, 5000));
    krx3sim::Behaviour paced;
    paced.paced = true;
    one.SetBehaviour(paced);
    two.SetBehaviour(paced);
    Plug(f.reg, {{&one, "ONE"}, {&two, "TWO"}});
    Watching w(f.path, f.reg, "--to " + f.to.string());
    for (krx3sim::Simulator* s : {&one, &two}) {
        ASSERT_TRUE(s->WaitForCommands(6, std::chrono::seconds(60)));  // two preambles, the listing and the read
        EXPECT_EQ(s->Commands().back().text.rfind("fs read", 0), 0u);
    }
    EXPECT_EQ(w.Stop(), 0);
    for (const char* serial : {"ONE", "TWO"}) {
        EXPECT_TRUE(fs::is_empty(f.to / serial)) << serial << ": a log, a record or a temporary file was left";
        EXPECT_TRUE(w.Told(serial, "pulled").empty());
    }
}

}  // namespace
