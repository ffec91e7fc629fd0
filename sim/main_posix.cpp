// krx3-sim: a simulated KRX3 on a pseudo-terminal, to run beside the tool.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "control.h"
#include "recorded_export.h"
#include "simulator.h"

namespace {

// Lock-free, so setting it in a signal handler is safe.
std::atomic<bool> g_quit{false};

void on_signal(int) { g_quit.store(true); }

void usage(const char* argv0) {
    std::fprintf(stderr,
                 "usage: %s [--logs N] [--lines N] [--folder DIR] [--paced] [--delay MS] [...]\n"
                 "  --logs N      number of sample logs (default 5)\n"
                 "  --lines N     lines in each sample log (default 200)\n"
                 "  --folder DIR  serve the .log files of DIR instead of sample logs\n"
                 "  --paced       send at the real line rate (115200 baud)\n"
                 "  --delay MS    silence before each reply\n"
                 "  --start MS    more silence before a listing or a log starts\n"
                 "  --pause MS    a pause after every 100th line of a reply\n"
                 "  --pause-before N  a pause before line N (from 0) of each log; -1: the last\n"
                 "  --pause-for MS    the length of that pause (default 1000)\n"
                 "  --unended     each log's last line goes out without its line end\n"
                 "  --junk TEXT   a listing line that is not a log (may be repeated)\n"
                 "  --refuse      answer \"fs del\" with an error and keep the log\n"
                 "  --silent      answer nothing\n"
                 "  --devices N   N loggers at once, each on a port of its own (default 1)\n"
                 "  --registry FILE  write a registry export naming each logger's port and\n"
                 "                its adapter's serial number (KRX3SIM1, ...), for KRX3_REGISTRY\n"
                 "  --stagger S   each logger after the first appears in that export S seconds\n"
                 "                after the one before, as if plugged in one after another\n"
                 "usage: %s --control FILE [--com-links DIR]\n"
                 "  --control FILE   serve simulators to other programs on the loopback\n"
                 "                   interface, and write its address into FILE\n"
                 "  --com-links DIR  link each simulator's port in DIR as comN (N from 5),\n"
                 "                   for Windows programs run by Wine (DIR: dosdevices)\n",
                 argv0, argv0);
}

bool number(const char* text, long* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!end || *end != '\0' || v < 0) return false;
    *out = v;
    return true;
}

// The export naming the first `shown` loggers.
void writeExport(const std::string& path, const std::vector<std::unique_ptr<krx3sim::Simulator>>& sims,
                 std::size_t shown) {
    std::vector<std::string> ports;
    std::string adapters;
    for (std::size_t i = 0; i < shown; ++i) {
        ports.push_back(sims[i]->PortPath());
        adapters += RecordedAdapter("VID_0403+PID_6015+KRX3SIM" + std::to_string(i + 1) + "A", sims[i]->PortPath());
    }
    if (!WriteWhole(path, RecordedExport(ports, adapters))) throw std::runtime_error("cannot write " + path);
}

std::string printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    long logs = 5, lines = 200, delay = 0, start = 0, pause = 0, devices = 1, stagger = 0, pause_for = 1000;
    long pause_before = -2;  // none
    std::string registry;
    bool paced = false, refuse = false, silent = false, unended = false;
    std::vector<std::string> junk;
    std::string folder;
    krx3sim::ControlOptions control;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--logs" && has_value && number(argv[i + 1], &logs)) {
            ++i;
        } else if (a == "--lines" && has_value && number(argv[i + 1], &lines)) {
            ++i;
        } else if (a == "--delay" && has_value && number(argv[i + 1], &delay)) {
            ++i;
        } else if (a == "--start" && has_value && number(argv[i + 1], &start)) {
            ++i;
        } else if (a == "--pause" && has_value && number(argv[i + 1], &pause)) {
            ++i;
        } else if (a == "--pause-before" && has_value && std::string(argv[i + 1]) == "-1") {
            pause_before = -1;
            ++i;
        } else if (a == "--pause-before" && has_value && number(argv[i + 1], &pause_before)) {
            ++i;
        } else if (a == "--pause-for" && has_value && number(argv[i + 1], &pause_for)) {
            ++i;
        } else if (a == "--unended") {
            unended = true;
        } else if (a == "--devices" && has_value && number(argv[i + 1], &devices) && devices >= 1 && devices <= 8) {
            ++i;
        } else if (a == "--stagger" && has_value && number(argv[i + 1], &stagger)) {
            ++i;
        } else if (a == "--registry" && has_value) {
            registry = argv[++i];
        } else if (a == "--junk" && has_value) {
            junk.push_back(argv[++i]);
        } else if (a == "--refuse") {
            refuse = true;
        } else if (a == "--silent") {
            silent = true;
        } else if (a == "--folder" && has_value) {
            folder = argv[++i];
        } else if (a == "--control" && has_value) {
            control.address_file = argv[++i];
        } else if (a == "--com-links" && has_value) {
            control.com_links = argv[++i];
        } else if (a == "--paced") {
            paced = true;
        } else {
            usage(argv[0]);
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    if (!control.address_file.empty()) return krx3sim::RunControlServer(control, g_quit);

    try {
        std::vector<std::unique_ptr<krx3sim::Simulator>> sims;
        for (long d = 0; d < devices; ++d) {
            sims.push_back(std::make_unique<krx3sim::Simulator>(
                folder.empty() ? krx3sim::SampleLogs(static_cast<int>(logs), static_cast<int>(lines))
                               : krx3sim::LogsFromFolder(folder)));
            krx3sim::Behaviour b;
            b.paced = paced;
            b.delay_before_reply = std::chrono::milliseconds(delay);
            b.list_delay = b.read_delay = std::chrono::milliseconds(start);
            b.pause_every_lines = pause > 0 ? 100 : 0;
            b.pause = std::chrono::milliseconds(pause);
            b.extra_list_lines = junk;
            b.silent = silent;
            b.last_line_unended = unended;
            if (pause_before >= -1) {
                const long count =
                    static_cast<long>(sims.back()->Logs().empty() ? 0 : sims.back()->Logs()[0].lines.size());
                b.pause_before_line = pause_before == -1 ? count - 1 : pause_before;
                b.line_pause = std::chrono::milliseconds(pause_for);
            }
            if (refuse) {
                b.keep_on_delete = true;
                b.del_reply = "ERR 5 cannot delete";
            }
            sims.back()->SetBehaviour(b);
        }

        for (std::size_t d = 0; d < sims.size(); ++d) {
            std::printf("KRX3 simulator ready on %s", sims[d]->PortPath().c_str());
            if (!registry.empty()) std::printf(" (adapter serial number KRX3SIM%zu)", d + 1);
            std::printf("\n");
        }
        if (registry.empty())
            std::printf("Type %s into the tool's port box; %zu log(s) on the device. Ctrl+C ends.\n",
                        sims[0]->PortPath().c_str(), sims[0]->Logs().size());
        else
            std::printf("%s names the port(s) for KRX3_REGISTRY; %zu log(s) on each device. Ctrl+C ends.\n",
                        registry.c_str(), sims[0]->Logs().size());
        std::fflush(stdout);

        const auto began = std::chrono::steady_clock::now();
        std::size_t in_export = 0;
        std::vector<std::size_t> shown(sims.size(), 0);
        while (!g_quit.load()) {
            if (!registry.empty()) {
                const auto seconds =
                    std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began).count();
                const std::size_t due =
                    stagger > 0 ? std::min(sims.size(), static_cast<std::size_t>(seconds / stagger) + 1) : sims.size();
                if (due != in_export) {
                    writeExport(registry, sims, due);
                    in_export = due;
                }
            }
            for (std::size_t d = 0; d < sims.size(); ++d) {
                const auto commands = sims[d]->Commands();
                for (; shown[d] < commands.size(); ++shown[d])
                    std::printf("%s< %s\n", sims.size() > 1 ? ("[" + std::to_string(d + 1) + "] ").c_str() : "",
                                printable(commands[shown[d]].text).c_str());
            }
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krx3-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
