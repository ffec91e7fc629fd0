// krx3 watch as a user runs it: the program beside simulated loggers whose
// adapters come and go in a recorded export that the test rewrites, its JSON
// lines read back as data.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "catalogue/fatdss.h"
#include "link/serial_os.h"
#include "sim/recorded_export.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Event = std::map<std::string, std::string>;
constexpr auto kBound = std::chrono::seconds(60);

// One JSON object of the watch's output, each value as text; empty when the
// line is not one.
Event Parse(const std::string& line) {
    Event out;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    for (auto it = o.begin(); it != o.end(); ++it)
        out[it.key().toStdString()] =
            it->isString() ? it->toString().toStdString() : QString::number(it->toInteger()).toStdString();
    return out;
}

// krx3 watch running, its standard output read as JSON lines.
class Watching {
public:
    Watching(const fs::path& reg, const std::vector<std::string>& args) {
        // Everything the child needs is made before the fork: the test's
        // simulators run threads, and after a fork only exec is safe.
        ::setenv("KRX3_REGISTRY", reg.c_str(), 1);
        std::vector<std::string> words{KRX3_PROGRAM, "watch"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::execv(KRX3_PROGRAM, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        ::unsetenv("KRX3_REGISTRY");
        out_ = fds[0];
    }
    ~Watching() {
        if (pid_ > 0) Stop();
        ::close(out_);
    }

    // Waits until `enough` holds of the events so far; false at the bound.
    bool Until(const std::function<bool(const std::vector<Event>&)>& enough) {
        const auto until = Clock::now() + kBound;
        while (!enough(events)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            pollfd p{out_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            char buf[4096];
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0) return enough(events);
            text_.append(buf, static_cast<std::size_t>(n));
            for (std::size_t end; (end = text_.find('\n')) != std::string::npos; text_.erase(0, end + 1)) {
                events.push_back(Parse(text_.substr(0, end)));
                EXPECT_FALSE(events.back().empty()) << "not a JSON object: " << text_.substr(0, end);
            }
        }
        return true;
    }
    // The events `event` of adapter `serial` so far.
    std::vector<Event> Of(const std::string& serial, const std::string& event) const {
        std::vector<Event> found;
        for (const Event& e : events)
            if (e.count("serial") && e.at("serial") == serial && e.at("event") == event) found.push_back(e);
        return found;
    }
    bool Has(const std::string& serial, const std::string& event, std::size_t n = 1) {
        return Until([&](const std::vector<Event>&) { return Of(serial, event).size() >= n; });
    }

    // Sends SIGINT and returns the exit status (-1: it did not end in time,
    // and was killed); the events it told until then are all read.
    int Stop() {
        ::kill(pid_, SIGINT);
        int raw = 0, status = -1;
        for (const auto until = Clock::now() + kBound; status < 0 && Clock::now() < until; ::poll(nullptr, 0, 20))
            if (::waitpid(pid_, &raw, WNOHANG) == pid_)
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        if (status < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &raw, 0);
        }
        pid_ = -1;
        Until([](const std::vector<Event>&) { return false; });  // to the end of its output
        return status;
    }

    std::vector<Event> events;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string text_;
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

std::string Bytes(const krx3sim::Log& log) {
    std::string text;
    for (const std::string& line : log.lines) text += line + "\r\n";
    return text;
}

// The name of a log's copy.
std::string FileOf(const krx3sim::Log& log) { return file_name(fatdt_of(code_value(log.start_code))); }

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::size_t FilesIn(const fs::path& dir) {
    std::error_code ec;
    return fs::is_directory(dir, ec) ? static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {})) : 0;
}

struct Folder {
    Folder() { fs::create_directories(path / "to"); }
    ~Folder() { fs::remove_all(path); }
    // A name beyond ASCII: JSON must give the path back as it is.
    const fs::path path = fs::temp_directory_path() / ("krx3-watch-Messdaten-\xC3\xA9-" + std::to_string(::getpid()));
};

// Adapters plugged in, unplugged and plugged in again, one held by another
// program: each is served once per appearance, into its own folder, and a
// log leaves its logger only when its copy is equal.
TEST(Krx3Watch, ServesEachAdapterOncePerAppearanceIntoItsFolder) {
    Folder f;
    const fs::path reg = f.path / "ports.reg", to = f.path / "to";
    krx3sim::Simulator a(krx3sim::SampleLogs(3, 20)), b(krx3sim::SampleLogs(1, 20)), held(krx3sim::SampleLogs(1, 20)),
        gap(krx3sim::SampleLogs(1, 20));
    krx3sim::Behaviour pauses;  // inside its log, for longer than the patience
    pauses.pause_before_line = 10;
    pauses.line_pause = std::chrono::milliseconds(4000);
    gap.SetBehaviour(pauses);
    const std::vector<krx3sim::Log> a_logs = a.Logs();
    // A copy of A's second log with other content: it must stay on A.
    fs::create_directories(to / "SERIALA");
    std::ofstream(to / "SERIALA" / FileOf(a_logs[1])) << "other\r\n";
    Plug(reg, {{&a, "SERIALA"}});
    Watching w(reg, {"--to", to.string(), "--delete-verified", "--json"});

    ASSERT_TRUE(w.Has("SERIALA", "done"));
    EXPECT_EQ(w.Of("SERIALA", "connected").at(0)["folder"], (to / "SERIALA").string());
    EXPECT_EQ(w.Of("SERIALA", "pulled").size(), 2u);
    EXPECT_EQ(w.Of("SERIALA", "already_there").size(), 0u) << "a file at a log's name is not that log";
    ASSERT_EQ(w.Of("SERIALA", "failed").size(), 1u);
    EXPECT_EQ(w.Of("SERIALA", "failed")[0]["name"], a_logs[1].start_code);
    EXPECT_NE(w.Of("SERIALA", "failed")[0]["reason"].find("exists with other content"), std::string::npos);
    Event done = w.Of("SERIALA", "done")[0];
    const std::vector<std::string> tally{done["pulled"], done["already_there"], done["deleted"], done["failed"]};
    EXPECT_EQ(tally, (std::vector<std::string>{"2", "0", "2", "1"}));
    ASSERT_EQ(a.Logs().size(), 1u) << "only the log whose copy differs stays";
    EXPECT_EQ(a.Logs()[0].start_code, a_logs[1].start_code);
    for (int i : {0, 2}) EXPECT_EQ(Slurp(to / "SERIALA" / FileOf(a_logs[i])), Bytes(a_logs[i]));
    EXPECT_EQ(Slurp(to / "SERIALA" / FileOf(a_logs[1])), "other\r\n");

    // Unplugged and plugged in again: nothing new to pull.
    Plug(reg, {});
    ASSERT_TRUE(w.Has("SERIALA", "disconnected"));
    a.ClearCommands();
    Plug(reg, {{&a, "SERIALA"}});
    ASSERT_TRUE(w.Has("SERIALA", "done", 2));
    EXPECT_EQ(w.Of("SERIALA", "done")[1]["pulled"], "0");

    // While it stays, nothing is sent to it; a held port is told, and the
    // adapter beside it is still served. B's log shares its name with one of
    // A's: each has its own folder.
    a.ClearCommands();
    const krx3sim::Log b_log = b.Logs().at(0);
    const com_handle_t holder = serial_os::Open(held.PortPath(), nullptr);
    ASSERT_NE(holder, INVALID_COM_HANDLE);
    Plug(reg, {{&a, "SERIALA"}, {&held, "HELD"}, {&b, "SERIALB"}, {&gap, "GAP"}});
    ASSERT_TRUE(w.Has("SERIALB", "done"));
    ASSERT_TRUE(w.Has("HELD", "done"));
    // A log cut short by the device's pause is kept and told, and stays on
    // its logger.
    ASSERT_TRUE(w.Has("GAP", "done"));
    ASSERT_EQ(w.Of("GAP", "not_proven_whole").size(), 1u);
    EXPECT_EQ(w.Of("GAP", "not_proven_whole")[0]["lines"], "10");
    EXPECT_EQ(w.Of("GAP", "not_proven_whole")[0]["expected_lines"], "20");
    EXPECT_EQ(w.Of("GAP", "done")[0]["deleted"], "0");
    EXPECT_EQ(gap.Logs().size(), 1u) << "a log whose copy is not whole was deleted";
    serial_os::Close(holder);
    EXPECT_NE(w.Of("HELD", "failed").at(0)["reason"].find("could not be opened"), std::string::npos);
    EXPECT_TRUE(w.Of("HELD", "connected").empty()) << "a port that never opened was told as connected";
    EXPECT_EQ(FilesIn(to / "HELD"), 0u);
    EXPECT_EQ(Slurp(to / "SERIALB" / FileOf(b_log)), Bytes(b_log));
    EXPECT_TRUE(b.Logs().empty());
    EXPECT_TRUE(a.Commands().empty()) << "A was sent " << a.Commands().size() << " commands while it stayed";

    EXPECT_EQ(w.Stop(), 1) << "logs failed";
}

// A scan that fails is told once, and the adapters it could not see are not
// taken for unplugged; the watch then ends with 1.
TEST(Krx3Watch, AFailedScanIsToldOnceAndTakesNoAdapterAway) {
    Folder f;
    const fs::path reg = f.path / "ports.reg", to = f.path / "to";
    krx3sim::Simulator a(krx3sim::SampleLogs(1, 5));
    Plug(reg, {{&a, "SERIALA"}});
    Watching w(reg, {"--to", to.string(), "--json"});
    ASSERT_TRUE(w.Has("SERIALA", "done"));
    ASSERT_TRUE(WriteWhole(reg.string(), "not an export\n"));
    const auto scan_failed = [](const std::vector<Event>& events) {
        return std::count_if(events.begin(), events.end(), [](const Event& e) {
            return e.at("event") == "failed" && !e.count("serial") &&
                   e.at("reason").find("The serial ports could not be read") == 0;
        });
    };
    ASSERT_TRUE(w.Until([&](const std::vector<Event>& events) { return scan_failed(events) == 1; }));
    Plug(reg, {{&a, "SERIALA"}});
    EXPECT_EQ(w.Stop(), 1) << "a failure was met";
    EXPECT_EQ(scan_failed(w.events), 1);
    EXPECT_TRUE(w.Of("SERIALA", "disconnected").empty());
    EXPECT_EQ(w.Of("SERIALA", "connected").size(), 1u);
}

// Ctrl-C in the middle of a log: the watch ends at once, keeps nothing of
// the log, and ends with 0 as nothing had failed.
TEST(Krx3Watch, InterruptDuringATransferKeepsNothing) {
    Folder f;
    const fs::path reg = f.path / "ports.reg", to = f.path / "to";
    krx3sim::Simulator slow(krx3sim::SampleLogs(1, 5000));
    krx3sim::Behaviour paced;
    paced.paced = true;
    slow.SetBehaviour(paced);
    Plug(reg, {{&slow, "SLOW"}});
    Watching w(reg, {"--to", to.string(), "--json"});
    ASSERT_TRUE(w.Has("SLOW", "connected"));
    ASSERT_TRUE(slow.WaitForCommands(6, kBound));  // two preambles, the listing and the read
    EXPECT_EQ(slow.Commands().back().text.rfind("fs read", 0), 0u);
    EXPECT_EQ(w.Stop(), 0);
    EXPECT_EQ(FilesIn(to / "SLOW"), 0u) << "a log or a temporary file was left";
    EXPECT_TRUE(w.Of("SLOW", "pulled").empty());
}

}  // namespace
