// krx3: lists, pulls and deletes the device's logs from the command line,
// with the window's conversations and the window's .log files.
#include <QDir>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fatdss.h"
#include "logfile.h"
#include "portscan.h"
#include "session.h"
#include "terminal.h"

namespace {

enum Status { kDone = 0, kFailed = 1, kUsage = 2, kNoAnswer = 3 };

const char kHelp[] =
    "usage: krx3 ports\n"
    "       krx3 list   [--port P] [--json]\n"
    "       krx3 pull   [--port P] [--to DIR] [--json] (--new | NAME...)\n"
    "       krx3 delete [--port P] --saved-in DIR NAME...\n"
    "       krx3 --help | --version\n"
    "\n"
    "Offloads the logs of a KRX3 data logger attached through its USB serial adapter.\n"
    "\n"
    "  ports        the ports the scan finds; the one marked * is taken without --port\n"
    "  list         the device's logs, earliest first: name, start, stop, duration and\n"
    "               the file name a log is saved under\n"
    "  pull         saves logs into DIR (default: the current folder) under their file\n"
    "               names, as the window saves them. --new pulls every log whose file is\n"
    "               not in DIR yet. An existing file is never replaced: the same content\n"
    "               counts as already there, other content fails. A log that does not\n"
    "               arrive whole is not saved at all: it stays on the device; pull again.\n"
    "  delete       deletes a log from the device only after reading it again and finding\n"
    "               it equal, byte for byte, to its file in DIR; then lists to confirm\n"
    "\n"
    "  --port P     the serial port (COM3, ttyUSB0, /dev/ttyUSB0); without it the port\n"
    "               the scan finds first\n"
    "  --json       results as JSON\n"
    "\n"
    "Results go to standard output, messages to standard error. While a log transfers\n"
    "and standard error is a terminal, one line there shows the progress.\n"
    "\n"
    "Exit status:\n"
    "  0  everything asked was done\n"
    "  1  a log failed or was incomplete, or a delete was refused\n"
    "  2  a usage error, no port found, or a port that cannot be opened\n"
    "  3  the device does not answer\n"
    "\n"
    "Environment: KRX3_REGISTRY names a registry export (.reg) to scan instead of the\n"
    "system's ports.\n";

struct Options {
    std::string command;
    std::string port;
    std::string to = ".";
    std::string saved_in;
    bool json = false;
    bool all_new = false;
    std::vector<std::string> names;
};

void say(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

int usage(const std::string& problem) {
    say("krx3: " + problem + "\nTry \"krx3 --help\".");
    return kUsage;
}

// Reads the command line into *o; returns kDone, or the status to end with.
int parse(int argc, char** argv, Options* o) {
    std::vector<std::string> args(argv + 1, argv + argc);
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
        const bool flag = a == "--json" || a == "--new";
        if (flag && has_value) return usage("option " + a + " takes no value.");
        if (a == "--port") {
            if (!take(&o->port)) return usage("option --port needs a port.");
        } else if (a == "--to" && o->command == "pull") {
            if (!take(&o->to)) return usage("option --to needs a folder.");
        } else if (a == "--saved-in" && o->command == "delete") {
            if (!take(&o->saved_in)) return usage("option --saved-in needs a folder.");
        } else if (a == "--json" && (o->command == "list" || o->command == "pull")) {
            o->json = true;
        } else if (a == "--new" && o->command == "pull") {
            o->all_new = true;
        } else if (a.rfind("-", 0) == 0) {
            return usage("unknown option " + a + " for \"" + o->command + "\".");
        } else if (o->command == "pull" || o->command == "delete") {
            o->names.push_back(a);
        } else {
            return usage("\"" + o->command + "\" takes no names.");
        }
    }
    if (o->command == "pull" && o->all_new && !o->names.empty())
        return usage("pull takes either --new or names, not both.");
    if (o->command == "pull" && !o->all_new && o->names.empty()) return usage("pull needs --new or the names of logs.");
    if (o->command == "delete" && o->saved_in.empty()) return usage("delete needs --saved-in DIR.");
    if (o->command == "delete" && o->names.empty()) return usage("delete needs the names of logs.");
    return kDone;
}

std::unique_ptr<RegistrySource> registry() {
    const char* recorded = std::getenv("KRX3_REGISTRY");
    return recorded && *recorded ? RecordedRegistry(recorded) : PlatformRegistry();
}

// The ports the scan finds, in the order the window's port box shows them.
std::vector<std::string> scannedPorts() {
    std::vector<std::string> ports = ScanPorts(*registry()).ports;
    std::stable_sort(ports.begin(), ports.end(),
                     [](const std::string& a, const std::string& b) { return TStringList::Compare(a, b) < 0; });
    return ports;
}

const std::string kNoAdapterPort = "krx3: no port of the device's USB serial adapter was found.";

// The port to use; empty (after saying why) when there is none.
std::string choosePort(const Options& o) {
    if (!o.port.empty()) return o.port;
    const std::vector<std::string> ports = scannedPorts();
    if (ports.empty()) say(kNoAdapterPort + "\nIs the device connected? Name its port with --port.");
    return ports.empty() ? std::string() : ports.front();
}

std::string iso(const fatdt_t& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.min, t.sec);
    return text;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20 || ch >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", ch);
            out += esc;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

// For a conversation that never got to its reply: says why and returns the
// status to end with (a port that does not open, a device that sent
// nothing); kDone otherwise. `what` names the reply ("listing", "upload").
int unanswered(const Conversation& c, const std::string& port, const char* what, const char* consequence) {
    if (!c.opened) {
        say(OpenFailureText(port, c.open_error, consequence));
        return kUsage;
    }
    if (!c.Silent()) return kDone;
    const std::string problem = ExchangeProblem(c.end, what);
    say(problem.empty() ? NoAnswerText(port, consequence) : problem + "\n" + consequence);
    return kNoAnswer;
}

// The device's logs, or the status that ends the command.
struct Listing {
    int status = kDone;
    std::vector<fatdss_t> logs;  // earliest first
};

Listing listDevice(const std::string& port) {
    Listing out;
    const Conversation c = ListLogs(port);
    out.status = unanswered(c, port, "listing", "No logs were listed.");
    if (out.status != kDone) return out;
    const std::string problem = ExchangeProblem(c.end, "listing");
    TStringList sorted;
    sorted.SetSorted(true);
    const std::vector<std::string> other = SplitListing(c.reply, &sorted);
    for (const std::string& line : sorted.Lines()) {
        fatdss_t e;
        xfnd(line, &e);
        e.file = file_name(e.start);
        out.logs.push_back(e);
    }
    if (!problem.empty()) {
        say(problem + "\nThe list may be incomplete.");
        out.status = kFailed;
    } else if (out.logs.empty() && !other.empty()) {
        say(NoLogsListedText(port, other));
    }
    return out;
}

const fatdss_t* findLog(const Listing& l, const std::string& name) {
    for (const fatdss_t& e : l.logs)
        if (e.name == name) return &e;
    return nullptr;
}

int portsCommand() {
    const std::vector<std::string> ports = scannedPorts();
    if (ports.empty()) {
        say(kNoAdapterPort);
        return kUsage;
    }
    for (std::size_t i = 0; i < ports.size(); ++i) std::printf("%s%s\n", ports[i].c_str(), i == 0 ? " *" : "");
    return kDone;
}

int listCommand(const Options& o, const std::string& port) {
    const Listing l = listDevice(port);
    if (l.status == kUsage || l.status == kNoAnswer) return l.status;
    if (o.json) {
        std::string out = "[";
        for (const fatdss_t& e : l.logs) {
            out += std::string(out.size() > 1 ? ",\n " : "") + "{\"name\": " + jsonString(e.name) +
                   ", \"start\": " + jsonString(iso(e.start)) + ", \"stop\": " + jsonString(iso(e.stop)) +
                   ", \"duration_s\": " + std::to_string(e.dur) + ", \"file\": " + jsonString(e.file) + "}";
        }
        std::printf("%s]\n", out.c_str());
        return l.status;
    }
    std::size_t width = 0;
    for (const fatdss_t& e : l.logs) width = std::max(width, duration_text(e).size());
    for (const fatdss_t& e : l.logs) {
        std::printf("%s  %s  %s  %-*s  %s\n", e.name.c_str(), label_text(e.start).c_str(), label_text(e.stop).c_str(),
                    static_cast<int>(width), duration_text(e).c_str(), e.file.c_str());
    }
    if (l.logs.empty() && l.status == kDone) say("The device holds no logs.");
    return l.status;
}

// One log read from the device; `status` kDone when it came whole.
struct Fetched {
    int status = kDone;
    TStringList lines;
};

Fetched fetch(const std::string& port, const fatdss_t& log) {
    Fetched f;
    TransferLine line(log.name, log.dur / 2);
    Conversation c = ReadLog(port, log.name, [&](int lines, std::size_t bytes) { line.Show(lines, bytes); });
    line.Clear();
    f.status = unanswered(c, port, "upload", "Nothing was read.");
    if (f.status != kDone) return f;
    const std::string problem = ExchangeProblem(c.end, "upload");
    if (!problem.empty()) {
        say(log.name + ": " + problem + "\nOnly " + std::to_string(c.reply.Count()) +
            " lines arrived; nothing was saved, and the log stays on the device.");
        f.status = kFailed;
    } else if (c.reply.Count() == 0) {
        say(log.name + ": the device sent no line for this log; nothing was saved.");
        f.status = kFailed;
    }
    f.lines = std::move(c.reply);
    return f;
}

// A folder that exists; false after saying why not.
bool folderExists(const std::string& dir) {
    const QFileInfo info(QString::fromLocal8Bit(dir.c_str()));
    if (!info.exists()) {
        say("krx3: the folder \"" + dir + "\" does not exist.");
        return false;
    }
    if (!info.isDir()) {
        say("krx3: \"" + dir + "\" is not a folder.");
        return false;
    }
    return true;
}

QString pathIn(const std::string& dir, const std::string& file) {
    return QDir(QString::fromLocal8Bit(dir.c_str())).filePath(QString::fromStdString(file));
}

std::string native(const QString& path) { return QDir::toNativeSeparators(path).toLocal8Bit().toStdString(); }

int pullCommand(const Options& o, const std::string& port) {
    if (!folderExists(o.to)) return kUsage;
    const Listing l = listDevice(port);
    if (l.status == kUsage || l.status == kNoAnswer) return l.status;

    int pulled = 0, there = 0, failed = 0;
    std::string json;
    const auto result = [&](const std::string& name, const std::string& file, const char* outcome) {
        json += std::string(json.empty() ? "[" : ",\n ") + "{\"name\": " + jsonString(name) +
                ", \"file\": " + jsonString(file) + ", \"result\": " + jsonString(outcome) + "}";
    };
    std::vector<const fatdss_t*> wanted;
    if (o.all_new) {
        for (const fatdss_t& e : l.logs) {
            if (QFileInfo::exists(pathIn(o.to, e.file))) {
                ++there;
                result(e.name, e.file, "already there");
            } else {
                wanted.push_back(&e);
            }
        }
    }
    for (const std::string& name : o.names) {
        const fatdss_t* e = findLog(l, name);
        if (e) {
            wanted.push_back(e);
        } else {
            say(name + ": the device lists no such log.");
            ++failed;
            result(name, "", "failed");
        }
    }
    for (const fatdss_t* e : wanted) {
        const Fetched f = fetch(port, *e);
        if (f.status == kUsage || f.status == kNoAnswer) return f.status;
        const QString path = pathIn(o.to, e->file);
        std::string outcome = "failed";
        if (f.status == kDone) {
            bool existed = false;
            const std::string error = WriteNewLogFile(path, f.lines.Lines(), &existed);
            QString read_error;
            if (error.empty()) {
                outcome = "pulled";
                if (!o.json)
                    std::printf("%s  %s  %zu lines\n", e->name.c_str(), native(path).c_str(), f.lines.Lines().size());
            } else if (!existed) {
                say(e->name + ": could not be saved to \"" + native(path) + "\": " + error);
            } else if (SameLogFile(path, f.lines.Lines(), &read_error)) {
                outcome = "already there";
                if (!o.json) std::printf("%s  %s  already there\n", e->name.c_str(), native(path).c_str());
            } else {
                say(e->name + ": \"" + native(path) + "\" exists " +
                    (read_error.isEmpty() ? std::string("with other content")
                                          : "and cannot be read (" + read_error.toLocal8Bit().toStdString() + ")") +
                    "; it was not replaced.");
            }
        }
        ++(outcome == "pulled" ? pulled : outcome == "failed" ? failed : there);
        result(e->name, e->file, outcome.c_str());
    }
    if (o.json) std::printf("%s]\n", json.empty() ? "[" : json.c_str());
    const std::string summary = "pulled " + std::to_string(pulled) + ", already there " + std::to_string(there) +
                                ", failed " + std::to_string(failed) +
                                (wanted.empty() && failed == 0 ? " (nothing new to pull)" : "");
    if (o.json)
        say(summary);
    else
        std::printf("%s\n", summary.c_str());
    return failed > 0 || l.status != kDone ? kFailed : kDone;
}

int deleteCommand(const Options& o, const std::string& port) {
    if (!folderExists(o.saved_in)) return kUsage;
    const Listing l = listDevice(port);
    if (l.status != kDone) return l.status;
    int refused = 0;
    for (const std::string& name : o.names) {
        const fatdss_t* e = findLog(l, name);
        if (!e) {
            say(name + ": the device lists no such log; nothing was deleted.");
            ++refused;
            continue;
        }
        const QString path = pathIn(o.saved_in, e->file);
        if (!QFileInfo(path).isFile()) {
            say(name + ": there is no copy \"" + native(path) + "\"; the log stays on the device.");
            ++refused;
            continue;
        }
        const Fetched f = fetch(port, *e);
        if (f.status == kUsage || f.status == kNoAnswer) return f.status;
        QString read_error;
        if (f.status != kDone) {
            say(name + ": the log could not be read again to compare; it stays on the device.");
            ++refused;
            continue;
        }
        if (!SameLogFile(path, f.lines.Lines(), &read_error)) {
            say(name + ": \"" + native(path) + "\" " +
                (read_error.isEmpty() ? std::string("differs from the log on the device")
                                      : "cannot be read (" + read_error.toLocal8Bit().toStdString() + ")") +
                "; the log stays on the device.");
            ++refused;
            continue;
        }
        const Conversation c = DeleteLog(port, name);
        if (!c.opened) {
            say(OpenFailureText(port, c.open_error, "The log was not deleted."));
            return kUsage;
        }
        if (!c.sent) {
            say(name + ": the delete command could not be sent; the log was not deleted.");
            ++refused;
            continue;
        }
        const Listing after = listDevice(port);
        if (after.status != kDone) {
            say(name + ": the listing after the delete failed; whether the log is gone is not known.");
            ++refused;
        } else if (findLog(after, name)) {
            say(name + ": the device did not delete the log; it is still listed." +
                (c.reply.Count() > 0 ? "\nIts reply to the delete command:\n" + Quoted(c.reply.Lines(), 1)
                                     : std::string()));
            ++refused;
        } else {
            std::printf("%s  deleted (its copy: %s)\n", name.c_str(), native(path).c_str());
        }
    }
    return refused > 0 ? kFailed : kDone;
}

int run(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::fputs(kHelp, stdout);
        return kDone;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("krx3 %s\n", KRX3_VERSION);
        return kDone;
    }
    Options o;
    if (const int status = parse(argc, argv, &o)) return status;
    if (o.command == "ports") return portsCommand();
    if (o.command != "list" && o.command != "pull" && o.command != "delete")
        return usage("unknown command \"" + o.command + "\".");
    const std::string port = choosePort(o);
    if (port.empty()) return kUsage;
    if (o.command == "list") return listCommand(o, port);
    if (o.command == "pull") return pullCommand(o, port);
    return deleteCommand(o, port);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        say(std::string("krx3: ") + e.what());
        return kUsage;
    }
}
