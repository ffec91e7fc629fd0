// krx3-sim: a simulated KRX3 on a pseudo-terminal, to run beside the tool.
#include <atomic>
#include <chrono>
#include <csignal>
#include <signal.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>
#include <thread>

#include "control.h"
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
                 "  --junk TEXT   a listing line that is not a log (may be repeated)\n"
                 "  --refuse      answer \"fs del\" with an error and keep the log\n"
                 "  --silent      answer nothing\n"
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
    long logs = 5, lines = 200, delay = 0, start = 0, pause = 0;
    bool paced = false, refuse = false, silent = false;
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
        krx3sim::Simulator sim(folder.empty() ? krx3sim::SampleLogs(static_cast<int>(logs), static_cast<int>(lines))
                                              : krx3sim::LogsFromFolder(folder));
        krx3sim::Behaviour b;
        b.paced = paced;
        b.delay_before_reply = std::chrono::milliseconds(delay);
        b.list_delay = b.read_delay = std::chrono::milliseconds(start);
        b.pause_every_lines = pause > 0 ? 100 : 0;
        b.pause = std::chrono::milliseconds(pause);
        b.extra_list_lines = junk;
        b.silent = silent;
        if (refuse) {
            b.keep_on_delete = true;
            b.del_reply = "ERR 5 cannot delete";
        }
        sim.SetBehaviour(b);

        std::printf("KRX3 simulator ready on %s\n", sim.PortPath().c_str());
        std::printf("Type %s into the tool's port box; %zu log(s) on the device. Ctrl+C ends.\n",
                    sim.PortPath().c_str(), sim.Logs().size());
        std::fflush(stdout);

        std::size_t shown = 0;
        while (!g_quit.load()) {
            const auto commands = sim.Commands();
            for (; shown < commands.size(); ++shown) std::printf("< %s\n", printable(commands[shown].text).c_str());
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krx3-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
