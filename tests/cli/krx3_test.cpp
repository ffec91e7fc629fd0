// krx3 as a user runs it: the program against the simulated device, with
// its output, its files and its exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "simulator.h"

namespace {

namespace fs = std::filesystem;

struct Ran {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spill(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// What the window saves for a log: every line followed by CR LF.
std::string Saved(const krx3sim::Log& log) {
    std::string text;
    for (const std::string& line : log.lines) text += line + "\r\n";
    return text;
}

class Krx3Test : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("krx3-test-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "logs");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs krx3 with `args` (shell words); `env` is put before the command.
    Ran Krx3(const std::string& args, const std::string& env = "") {
        const fs::path out = dir_ / "out", err = dir_ / "err";
        const std::string cmd = env + " " KRX3_PROGRAM " " + args + " >" + out.string() + " 2>" + err.string();
        const int raw = std::system(cmd.c_str());
        Ran r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }
    std::string Port() { return " --port " + sim_.PortPath(); }
    fs::path Logs() { return dir_ / "logs"; }
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Logs())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
    // Worked by hand: 2017-06-15 10:30:20 is DOS value 0x4ACF53CA, code
    // EBQNYWG; its stop 11:36:50 is EBQOCEZ. The device lists them out of order.
    const std::vector<krx3sim::Log> logs_{
        {"EBQRKIA", "EBQRKIP", {"2017-06-16 08:00:00 a", "b"}},        // 2017-06-16 08:00:00 to 08:00:30
        {"EBQWZNX", "EBQXXZD", {"c", std::string("d\0\xE9", 3), ""}},  // 2017-06-17 23:59:58 to 06-18 00:00:02
        {"EBQNYWG", "EBQOCEZ", {"first log", "x"}},
    };
    krx3sim::Simulator sim_{logs_};
};

TEST_F(Krx3Test, ListsTheLogsAsTextAndAsJson) {
    Ran r = Krx3("list" + Port());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "EBQNYWG  2017-06-15 10:30:20  2017-06-15 11:36:50  1h 6m 30s  2017_06_15_10_30_20.log\n"
              "EBQRKIA  2017-06-16 08:00:00  2017-06-16 08:00:30  0h 0m 30s  2017_06_16_08_00_00.log\n"
              "EBQWZNX  2017-06-17 23:59:58  2017-06-18 00:00:02  0h 0m 4s   2017_06_17_23_59_58.log\n");

    r = Krx3("list --json" + Port());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "[{\"name\": \"EBQNYWG\", \"start\": \"2017-06-15T10:30:20\", \"stop\": \"2017-06-15T11:36:50\", "
              "\"duration_s\": 3990, \"file\": \"2017_06_15_10_30_20.log\"},\n"
              " {\"name\": \"EBQRKIA\", \"start\": \"2017-06-16T08:00:00\", \"stop\": \"2017-06-16T08:00:30\", "
              "\"duration_s\": 30, \"file\": \"2017_06_16_08_00_00.log\"},\n"
              " {\"name\": \"EBQWZNX\", \"start\": \"2017-06-17T23:59:58\", \"stop\": \"2017-06-18T00:00:02\", "
              "\"duration_s\": 4, \"file\": \"2017_06_17_23_59_58.log\"}]\n");
}

TEST_F(Krx3Test, PullNewFetchesEachLogOnceAndNeverReplacesAFile) {
    Spill(Logs() / "2017_06_16_08_00_00.log", "kept\r\n");  // EBQRKIA's name, other content
    Ran r = Krx3("pull --new --to " + Logs().string() + Port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("pulled 2, already there 1, failed 0"), std::string::npos) << r.out;
    EXPECT_EQ(Slurp(Logs() / "2017_06_17_23_59_58.log"), std::string("c\r\nd\0\xE9\r\n\r\n", 10));
    EXPECT_EQ(Slurp(Logs() / "2017_06_15_10_30_20.log"), Saved(logs_[2]));
    EXPECT_EQ(Slurp(Logs() / "2017_06_16_08_00_00.log"), "kept\r\n");

    sim_.ClearCommands();
    r = Krx3("pull --new --to " + Logs().string() + Port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("pulled 0, already there 3, failed 0 (nothing new to pull)"), std::string::npos) << r.out;
    EXPECT_EQ(sim_.Commands().size(), 3u) << "the second run reads no log";

    // Named: the same content counts as there, other content fails.
    r = Krx3("pull --to " + Logs().string() + Port() + " EBQNYWG EBQRKIA");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("pulled 0, already there 1, failed 1"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("other content"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(Logs() / "2017_06_16_08_00_00.log"), "kept\r\n");
    EXPECT_EQ(Files().size(), 3u) << "no file left beside";
}

TEST_F(Krx3Test, DeletesOnlyALogWhoseCopyIsEqual) {
    Spill(Logs() / "2017_06_15_10_30_20.log", Saved(logs_[2]));
    Spill(Logs() / "2017_06_16_08_00_00.log", Saved(logs_[0]) + "one more\r\n");
    Ran r = Krx3("delete --saved-in " + Logs().string() + Port() + " EBQNYWG");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("EBQNYWG  deleted"), std::string::npos) << r.out;

    // A copy that differs, no copy, a log the device does not list.
    for (const char* refused : {"EBQRKIA", "EBQWZNX", "ZZZZZZZ"}) {
        SCOPED_TRACE(refused);
        r = Krx3("delete --saved-in " + Logs().string() + Port() + " " + refused);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
    }
    EXPECT_EQ(sim_.Logs().size(), 2u);
    std::vector<std::string> deletes;
    for (const auto& c : sim_.Commands()) {
        if (c.text.rfind("fs del", 0) == 0) deletes.push_back(c.text);
    }
    EXPECT_EQ(deletes, std::vector<std::string>{"fs del EBQNYWG"});
}

TEST_F(Krx3Test, AFailedDeviceGivesItsStatusAndLeavesNoFile) {
    const std::string pull = "pull --new --to " + Logs().string();
    struct Case {
        const char* what;
        std::function<void(krx3sim::Behaviour&)> behave;
        int status;
        const char* says;
    } cases[] = {
        {"a hang-up in a log", [](krx3sim::Behaviour& b) { b.close_after_bytes = 600; }, 1, "nothing was saved"},
        {"a silent device", [](krx3sim::Behaviour& b) { b.silent = true; }, 3, "did not answer"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        krx3sim::Simulator sim(krx3sim::SampleLogs(1, 200));
        krx3sim::Behaviour b = sim.GetBehaviour();
        k.behave(b);
        sim.SetBehaviour(b);
        const Ran r = Krx3(pull + " --port " + sim.PortPath());
        EXPECT_EQ(r.status, k.status);
        EXPECT_NE(r.err.find(k.says), std::string::npos) << r.err;
        EXPECT_TRUE(Files().empty());
    }
}

TEST_F(Krx3Test, BadInputIsToldWithAStatusNeverACrash) {
    Spill(dir_ / "empty.reg", "Windows Registry Editor Version 5.00\r\n");
    Spill(dir_ / "plain", "not a port");
    struct Case {
        std::string args;
        std::string env;
        int status;
        const char* says;
    } cases[] = {
        {"list --colour", "", 2, "unknown option --colour"},
        {"fetch", "", 2, "unknown command"},
        {"pull" + Port(), "", 2, "--new"},
        {"delete " + std::string("EBQNYWG") + Port(), "", 2, "--saved-in"},
        {"pull --new --to " + (dir_ / "none").string() + Port(), "", 2, "does not exist"},
        {"list --port " + (dir_ / "plain").string(), "", 2, "could not be opened"},
        {"list", "KRX3_REGISTRY=" + (dir_ / "empty.reg").string(), 2, "no port"},
        {"list", "KRX3_REGISTRY=" + (dir_ / "plain").string(), 2, "not a registry export"},
        {"pull --to " + Logs().string() + Port() + " NOSUCHX", "", 1, "lists no such log"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.args);
        const Ran r = Krx3(k.args, k.env);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_NE(r.err.find(k.says), std::string::npos) << r.err;
    }
}

TEST_F(Krx3Test, WithoutAPortTheScansFirstPortIsTaken) {
    Ran r = Krx3("ports", "KRX3_REGISTRY=" KRX3_TYPICAL_REG);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "COM10 *\nCOM3\n");

    Spill(dir_ / "sim.reg",
          "Windows Registry Editor Version 5.00\r\n\r\n"
          "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n\"\\\\Device\\\\VCP0\"=\"" +
              sim_.PortPath() +
              "\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6015+A\\0000\\"
              "Device Parameters]\r\n\"PortName\"=\"" +
              sim_.PortPath() + "\"\r\n\"LatencyTimer\"=dword:00000010\r\n");
    r = Krx3("list", "KRX3_REGISTRY=" + (dir_ / "sim.reg").string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
}

}  // namespace
