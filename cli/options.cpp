#include "options.h"

#include <cstdio>

const char kHelp[] =
    "usage: krx3 ports\n"
    "       krx3 list   [--port P] [--json]\n"
    "       krx3 pull   [--port P] [--to DIR] [--by-serial] [--json] (--new | NAME...)\n"
    "       krx3 delete [--port P] --saved-in DIR NAME...\n"
    "       krx3 watch  --to DIR [--delete-verified] [--parallel N] [--json]\n"
    "       krx3 report DIR [--json]\n"
    "       krx3 --help | --version\n"
    "\n"
    "Offloads the logs of a KRX3 data logger attached through its USB serial adapter.\n"
    "\n"
    "  ports        the ports the scan finds, with their adapter's serial number; the one\n"
    "               marked * is taken without --port\n"
    "  list         the device's logs, earliest first: name, start, stop, duration and\n"
    "               the file name a log is saved under\n"
    "  pull         saves logs into DIR (default: the current folder) under their file\n"
    "               names, as the window saves them. --new pulls every log that DIR's\n"
    "               record (krx3-record.jsonl) does not name as pulled whole into a file\n"
    "               that still holds those bytes. An existing file is never replaced: the\n"
    "               same content counts as already there, other content fails. A log that\n"
    "               breaks off is not saved at all. A log that ends with fewer lines than\n"
    "               its duration leads to expect (a line every 2 s, one at each end), or\n"
    "               with its last line unended, is kept, told as not proven whole, and\n"
    "               ends the command with status 1; it stays on the device.\n"
    "  delete       deletes a log from the device only when its copy is verified: the log\n"
    "               is read again whole (every line its duration leads to expect, each\n"
    "               with its line end, and 0.26 s of quiet after them) and that read\n"
    "               equals its file in DIR byte for byte; then lists to confirm\n"
    "  watch        looks for adapters about once a second and offloads each as it is\n"
    "               plugged in: pulls every log not yet in DIR/SERIAL (SERIAL: the\n"
    "               adapter's serial number; the folder is made when needed) and, with\n"
    "               --delete-verified, deletes each log whose copy there is verified, as\n"
    "               delete does; a log not proven whole is never deleted. Then a line\n"
    "               says it is done and the adapter may be unplugged; nothing more is\n"
    "               sent to it until it is plugged in again.\n"
    "               Every adapter is served at once, each on its own line (--parallel N:\n"
    "               at most N at once, the others when one is done); one that fails\n"
    "               holds up no other. Runs until Ctrl-C, which abandons every transfer\n"
    "               and keeps nothing of them.\n"
    "  report       what the records (krx3-record.jsonl) in DIR and in its loggers'\n"
    "               folders say, per logger: each log pulled (its lines, bytes and\n"
    "               SHA-256), each verified delete and each failure with its reason\n"
    "\n"
    "  --port P     the serial port (COM3, ttyUSB0, /dev/ttyUSB0); without it the port\n"
    "               the scan finds first\n"
    "  --to DIR     the folder the logs go to; made when it is missing and its parent\n"
    "               exists\n"
    "  --by-serial  pull into DIR/SERIAL, as watch does\n"
    "  --parallel N watch: serve at most N adapters at once (default: all)\n"
    "  --json       results as JSON; for watch one object per line with an \"event\"\n"
    "               (connected, pulled, not_proven_whole, already_there, deleted, failed,\n"
    "               done, disconnected), each with the adapter's serial number\n"
    "\n"
    "Results go to standard output, messages to standard error. While a log transfers\n"
    "and standard error is a terminal, one line there shows the progress (watch: one\n"
    "line per logger).\n"
    "\n"
    "Exit status:\n"
    "  0  everything asked was done\n"
    "  1  a log failed or was incomplete, or a delete was refused (watch: anything failed)\n"
    "  2  a usage error, no port found, or a port that cannot be opened\n"
    "  3  the device does not answer\n"
    "\n"
    "Environment: KRX3_REGISTRY names a registry export (.reg) to scan instead of the\n"
    "system's ports.\n"
    "\n"
    "Example: offload each logger as it is plugged in, one folder per logger:\n"
    "  krx3 watch --to ~/krx3-logs --delete-verified\n";

void say(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

int usage(const std::string& problem) {
    say("krx3: " + problem + "\nTry \"krx3 --help\".");
    return kUsage;
}

int parse(int argc, char** argv, Options* o) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool to_given = false;
    if (args.empty()) return usage("no command given.");
    o->command = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string a = args[i];
        std::string value;
        bool has_value = false;
        const std::size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            has_value = true;
        }
        const auto take = [&](std::string* into) {
            if (!has_value) {
                if (i + 1 >= args.size()) return false;
                value = args[++i];
            }
            *into = value;
            return !into->empty();
        };
        const bool flag = a == "--json" || a == "--new" || a == "--by-serial" || a == "--delete-verified";
        if (flag && has_value) return usage("option " + a + " takes no value.");
        if (a == "--port") {
            if (!take(&o->port)) return usage("option --port needs a port.");
        } else if (a == "--to" && (o->command == "pull" || o->command == "watch")) {
            to_given = true;
            if (!take(&o->to)) return usage("option --to needs a folder.");
        } else if (a == "--saved-in" && o->command == "delete") {
            if (!take(&o->saved_in)) return usage("option --saved-in needs a folder.");
        } else if (a == "--json" &&
                   (o->command == "list" || o->command == "pull" || o->command == "watch" || o->command == "report")) {
            o->json = true;
        } else if (a == "--by-serial" && o->command == "pull") {
            o->by_serial = true;
        } else if (a == "--delete-verified" && o->command == "watch") {
            o->delete_verified = true;
        } else if (a == "--parallel" && o->command == "watch") {
            std::string n;
            const bool digits = take(&n) && n.size() <= 4 && n.find_first_not_of("0123456789") == std::string::npos;
            o->parallel = digits ? std::stoi(n) : 0;
            if (o->parallel < 1) return usage("option --parallel needs a number of adapters, 1 or more.");
        } else if (a == "--new" && o->command == "pull") {
            o->all_new = true;
        } else if (a.rfind("-", 0) == 0) {
            return usage("unknown option " + a + " for \"" + o->command + "\".");
        } else if (o->command == "pull" || o->command == "delete" || o->command == "report") {
            o->names.push_back(a);
        } else {
            return usage("\"" + o->command + "\" takes no names.");
        }
    }
    if (o->command == "pull" && o->all_new && !o->names.empty())
        return usage("pull takes either --new or names, not both.");
    if (o->command == "pull" && !o->all_new && o->names.empty()) return usage("pull needs --new or the names of logs.");
    if (o->command == "watch" && !to_given) return usage("watch needs --to DIR.");
    if (o->command == "watch" && !o->port.empty())
        return usage("watch takes every adapter the scan finds, not --port.");
    if (o->command == "report" && o->names.size() != 1) return usage("report needs one folder.");
    if (o->command == "delete" && o->saved_in.empty()) return usage("delete needs --saved-in DIR.");
    if (o->command == "delete" && o->names.empty()) return usage("delete needs the names of logs.");
    return kDone;
}
