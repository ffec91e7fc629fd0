// krx3 watch's cost while no adapter is there, and its time from an adapter
// appearing in the scan to the first command the logger receives.
//
//   bench_watch [--sysfs] [SECONDS]   (idle time measured; default 60)
//
// krx3 watch runs with a recorded export (KRX3_REGISTRY) that names no port;
// its processor time over SECONDS comes from /proc. Then the export is
// replaced by one naming a simulated logger, and the simulator's record of
// the first command's arrival gives the delay. With --sysfs, an idle run
// that scans this machine's sysfs, as on a user's machine, comes first.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
    int seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--sysfs")
            sysfs = true;
        else
            seconds = std::atoi(argv[i]);
    }
    const fs::path dir = fs::temp_directory_path() / ("bench-watch-" + std::to_string(::getpid()));
    fs::create_directories(dir / "to");
    const fs::path reg = dir / "ports.reg";
    WriteWhole(reg.string(), RecordedExport({}, ""));
    krx3sim::Simulator sim(krx3sim::SampleLogs(1, 10));

    const auto run = [&](bool with_export) {
        std::fflush(stdout);  // else the child would print what is buffered again
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (with_export) ::setenv("KRX3_REGISTRY", reg.c_str(), 1);
            std::freopen("/dev/null", "w", stdout);
            ::execl(KRX3_PROGRAM, KRX3_PROGRAM, "watch", "--to", (dir / "to").c_str(), static_cast<char*>(nullptr));
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

    if (sysfs) {
        const pid_t pid = run(false);
        idle(pid, "/sys");
        ::kill(pid, SIGINT);
        ::waitpid(pid, nullptr, 0);
    }
    const pid_t pid = run(true);
    idle(pid, "a recorded export");
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
    fs::remove_all(dir);
    return 0;
}
