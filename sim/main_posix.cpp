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

// What the command line asks for.
struct SimOptions {
    long logs = 5, lines = 200, delay = 0, start = 0, pause = 0, devices = 1, stagger = 0, pause_for = 1000;
    long pause_before = -2;  // none
    std::string registry, folder;
    bool paced = false, refuse = false, silent = false, unended = false;
    std::vector<std::string> junk;
    krx3sim::ControlOptions control;
};

// An option with a value: true when `a` is one and `value` fits it.
bool takeValue(const std::string& a, const char* value, SimOptions* o) {
    if (!value) return false;
    if (a == "--pause-before" && std::string(value) == "-1") {
        o->pause_before = -1;
        return true;
    }
    const std::pair<const char*, long*> numbers[] = {
        {"--logs", &o->logs},           {"--lines", &o->lines},     {"--delay", &o->delay},
        {"--start", &o->start},         {"--pause", &o->pause},     {"--pause-before", &o->pause_before},
        {"--pause-for", &o->pause_for}, {"--devices", &o->devices}, {"--stagger", &o->stagger},
    };
    for (const auto& [name, out] : numbers)
        if (a == name) return number(value, out);
    const std::pair<const char*, std::string*> texts[] = {
        {"--registry", &o->registry},
        {"--folder", &o->folder},
        {"--control", &o->control.address_file},
        {"--com-links", &o->control.com_links},
    };
    for (const auto& [name, out] : texts) {
        if (a != name) continue;
        *out = value;
        return true;
    }
    if (a != "--junk") return false;
    o->junk.push_back(value);
    return true;
}

bool takeFlag(const std::string& a, SimOptions* o) {
    const std::pair<const char*, bool*> flags[] = {
        {"--paced", &o->paced}, {"--refuse", &o->refuse}, {"--silent", &o->silent}, {"--unended", &o->unended}};
    for (const auto& [name, out] : flags) {
        if (a != name) continue;
        *out = true;
        return true;
    }
    return false;
}

// Reads the options into *o; -1 to go on, else the exit status (after the
// usage, asked for or not).
int parseOptions(int argc, char** argv, SimOptions* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (takeValue(a, i + 1 < argc ? argv[i + 1] : nullptr, o)) {
            ++i;
        } else if (!takeFlag(a, o)) {
            usage(argv[0]);
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (o->devices >= 1 && o->devices <= 8) return -1;
    usage(argv[0]);
    return 2;
}

// How each simulated logger behaves, from the options.
krx3sim::Behaviour behaviourOf(const SimOptions& o, const krx3sim::Simulator& sim) {
    krx3sim::Behaviour b;
    b.paced = o.paced;
    b.delay_before_reply = std::chrono::milliseconds(o.delay);
    b.list_delay = b.read_delay = std::chrono::milliseconds(o.start);
    b.pause_every_lines = o.pause > 0 ? 100 : 0;
    b.pause = std::chrono::milliseconds(o.pause);
    b.extra_list_lines = o.junk;
    b.silent = o.silent;
    b.last_line_unended = o.unended;
    if (o.pause_before >= -1) {
        const long count = static_cast<long>(sim.Logs().empty() ? 0 : sim.Logs()[0].lines.size());
        b.pause_before_line = o.pause_before == -1 ? count - 1 : o.pause_before;
        b.line_pause = std::chrono::milliseconds(o.pause_for);
    }
    if (o.refuse) {
        b.keep_on_delete = true;
        b.del_reply = "ERR 5 cannot delete";
    }
    return b;
}

void announce(const SimOptions& o, const std::vector<std::unique_ptr<krx3sim::Simulator>>& sims) {
    for (std::size_t d = 0; d < sims.size(); ++d) {
        std::printf("KRX3 simulator ready on %s", sims[d]->PortPath().c_str());
        if (!o.registry.empty()) std::printf(" (adapter serial number KRX3SIM%zu)", d + 1);
        std::printf("\n");
    }
    if (o.registry.empty())
        std::printf("Type %s into the tool's port box; %zu log(s) on the device. Ctrl+C ends.\n",
                    sims[0]->PortPath().c_str(), sims[0]->Logs().size());
    else
        std::printf("%s names the port(s) for KRX3_REGISTRY; %zu log(s) on each device. Ctrl+C ends.\n",
                    o.registry.c_str(), sims[0]->Logs().size());
    std::fflush(stdout);
}

// Until Ctrl+C: the export shows the loggers due by now (with --stagger one
// more every so many seconds), and each command the loggers get is printed.
void serve(const SimOptions& o, const std::vector<std::unique_ptr<krx3sim::Simulator>>& sims) {
    const auto began = std::chrono::steady_clock::now();
    std::size_t in_export = 0;
    std::vector<std::size_t> shown(sims.size(), 0);
    while (!g_quit.load()) {
        if (!o.registry.empty()) {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began).count();
            const std::size_t due =
                o.stagger > 0 ? std::min(sims.size(), static_cast<std::size_t>(seconds / o.stagger) + 1) : sims.size();
            if (due != in_export) {
                writeExport(o.registry, sims, due);
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
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions o;
    if (const int status = parseOptions(argc, argv, &o); status >= 0) return status;

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    if (!o.control.address_file.empty()) return krx3sim::RunControlServer(o.control, g_quit);

    try {
        std::vector<std::unique_ptr<krx3sim::Simulator>> sims;
        for (long d = 0; d < o.devices; ++d) {
            sims.push_back(std::make_unique<krx3sim::Simulator>(
                o.folder.empty() ? krx3sim::SampleLogs(static_cast<int>(o.logs), static_cast<int>(o.lines))
                                 : krx3sim::LogsFromFolder(o.folder)));
            sims.back()->SetBehaviour(behaviourOf(o, *sims.back()));
        }
        announce(o, sims);
        serve(o, sims);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krx3-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
