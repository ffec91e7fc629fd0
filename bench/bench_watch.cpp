// krx3 watch's cost while no adapter is there, its time from an adapter
// appearing in the scan to the first command the logger receives, and a
// fleet: one logger, then four with the same logs, at the real line rate,
// offloaded by one watch (the time for all four against the time for one,
// and the processor time per logger).
//
//   bench_watch [--sysfs] [SECONDS] [--lines N]
//     SECONDS: idle time measured (default 60; 0 leaves it out)
//     N: lines of each of a logger's two logs (default 1000)
//
// krx3 watch runs with a recorded export (KRX3_REGISTRY) that names no port;
// its processor time over SECONDS comes from /proc. Then the export is
// replaced by one naming a simulated logger, and the simulator's record of
// the first command's arrival gives the delay. With --sysfs, an idle run
// that scans this machine's sysfs, as on a user's machine, comes first.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sim/recorded_export.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;

// utime + stime of a process, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const std::size_t after = text.rfind(')');
    if (after == std::string::npos) return -1;
    std::istringstream fields(text.substr(after + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;
    double user = 0, sys = 0;
    fields >> user >> sys;
    return (user + sys) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
    bool sysfs = false;
    int seconds = 60, lines = 1000;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--sysfs")
            sysfs = true;
        else if (std::string(argv[i]) == "--lines" && i + 1 < argc)
            lines = std::atoi(argv[++i]);
        else
            seconds = std::atoi(argv[i]);
    }
    const fs::path dir = fs::temp_directory_path() / ("bench-watch-" + std::to_string(::getpid()));
    fs::create_directories(dir / "to");
    const fs::path reg = dir / "ports.reg";
    WriteWhole(reg.string(), RecordedExport({}, ""));
    krx3sim::Simulator sim(krx3sim::SampleLogs(1, 10));

    const fs::path out = dir / "out";
    const auto run = [&](bool with_export) {
        std::fflush(stdout);  // else the child would print what is buffered again
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (with_export) ::setenv("KRX3_REGISTRY", reg.c_str(), 1);
            std::freopen(out.c_str(), "w", stdout);
            ::execl(KRX3_PROGRAM, KRX3_PROGRAM, "watch", "--json", "--to", (dir / "to").c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    };
    const auto idle = [&](pid_t pid, const char* what) {
        std::this_thread::sleep_for(std::chrono::seconds(1));  // past its start
        const double before = CpuSeconds(pid);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double used = CpuSeconds(pid) - before;
        std::printf("idle, scanning %s: %.3f s of processor time in %d s = %.3f %% of a core\n", what, used, seconds,
                    100.0 * used / seconds);
    };

    if (seconds > 0 && sysfs) {
        const pid_t pid = run(false);
        idle(pid, "/sys");
        ::kill(pid, SIGINT);
        ::waitpid(pid, nullptr, 0);
    }
    const pid_t pid = run(true);
    if (seconds > 0) idle(pid, "a recorded export");
    const auto plugged = std::chrono::steady_clock::now();
    WriteWhole(reg.string(),
               RecordedExport({sim.PortPath()}, RecordedAdapter("VID_0403+PID_6015+BENCH1A", sim.PortPath())));
    if (sim.WaitForCommands(1, std::chrono::seconds(30))) {
        const auto first = sim.Commands().front().arrived;
        std::printf("adapter in the scan to the first command: %.0f ms\n",
                    std::chrono::duration<double, std::milli>(first - plugged).count());
    } else {
        std::printf("no command came within 30 s\n");
    }
    ::kill(pid, SIGINT);
    ::waitpid(pid, nullptr, 0);

    // The fleet: from the first command any logger receives to the last
    // "done" told, with every logger paced at 115,200 baud.
    double alone = 0;
    for (const int count : {1, 4}) {
        std::vector<std::unique_ptr<krx3sim::Simulator>> fleet;
        std::vector<std::string> ports, keys;
        krx3sim::Behaviour paced;
        paced.paced = true;
        for (int i = 0; i < count; ++i) {
            fleet.push_back(std::make_unique<krx3sim::Simulator>(krx3sim::SampleLogs(2, lines)));
            fleet.back()->SetBehaviour(paced);
            ports.push_back(fleet.back()->PortPath());
            keys.push_back(RecordedAdapter("VID_0403+PID_6015+FLEET" + std::to_string(i) + "A", ports.back()));
        }
        std::string all_keys;
        for (const std::string& k : keys) all_keys += k;
        WriteWhole(reg.string(), RecordedExport({}, ""));
        fs::remove_all(dir / "to");
        fs::create_directories(dir / "to");
        const pid_t watch = run(true);
        WriteWhole(reg.string(), RecordedExport(ports, all_keys));
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(10);
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(count) && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::ifstream text(out);
            const std::string told((std::istreambuf_iterator<char>(text)), {});
            done = 0;
            for (std::size_t at = told.find("\"event\":\"done\""); at != std::string::npos;
                 at = told.find("\"event\":\"done\"", at + 1))
                ++done;
        }
        const auto ended = std::chrono::steady_clock::now();
        const double cpu = CpuSeconds(watch);
        ::kill(watch, SIGINT);
        ::waitpid(watch, nullptr, 0);
        auto began = ended;
        for (const auto& sim : fleet)
            if (!sim->Commands().empty()) began = std::min(began, sim->Commands().front().arrived);
        const double took = std::chrono::duration<double>(ended - began).count();
        if (count == 1) alone = took;
        std::printf("%d logger%s with 2 logs of %d lines each, paced: %s in %.2f s", count, count == 1 ? "" : "s",
                    lines, done == static_cast<std::size_t>(count) ? "all done" : "NOT ALL DONE", took);
        if (count > 1) std::printf(" = %.3f times one logger's (target at most 1.15)", took / alone);
        std::printf("; krx3's processor time %.3f s, %.3f s per logger\n", cpu, cpu / count);
    }
    fs::remove_all(dir);
    return 0;
}
