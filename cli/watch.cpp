// krx3 watch: the watch's events as lines, one per event, with the time
// and the adapter's serial number; or as JSON Lines.
#include "offload/watch.h"

#include <QJsonObject>

#include <cstdio>
#include <ctime>
#include <map>
#include <memory>

#include "commands.h"
#include "present.h"
#include "terminal.h"

namespace {

using Kind = WatchEvent::Kind;

std::string now(const char* format) {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

// What went wrong, for a Failed or ScanFailed event.
std::string reason(const WatchEvent& e) {
    const std::string& port = e.adapter.port;
    const std::string name = e.log ? e.log->name : std::string();
    if (e.kind == Kind::ScanFailed) return ScanFailureText(e.scan_error);
    if (e.listing) return Judge(e.listing->outcome, port, Asked{Asked::kListing, ""}).text;
    if (e.pull && (!e.pull->tried || e.kind == Kind::Unproven))
        return Judge(e.pull->read.outcome, port, Asked{Asked::kRead, name}, e.pull->read.lines.Count()).text;
    if (e.pull) return KeptText(name, e.pull->kept, Native(e.pull->kept.path));
    if (e.deletion) return NotDeletedText(name, *e.deletion, port, Native(e.deletion->copy));
    if (!e.adapter_error.empty()) return e.adapter_error + "; its offload stopped.";
    return "the folder \"" + Native(e.folder) + "\" could not be made.";
}

// The copy an event is about.
QString copyPath(const WatchEvent& e) {
    if (e.deletion) return e.deletion->copy;
    if (e.pull && e.pull->tried) return e.pull->kept.path;
    return e.log ? CopyPath(e.folder, *e.log) : QString();
}
std::string copyOf(const WatchEvent& e) { return Native(copyPath(e)); }

const char* jsonName(Kind k) {
    switch (k) {
        case Kind::Connected:
            return "connected";
        case Kind::Pulled:
            return "pulled";
        case Kind::Unproven:
            return "not_proven_whole";
        case Kind::AlreadyThere:
            return "already_there";
        case Kind::Deleted:
            return "deleted";
        case Kind::Failed:
        case Kind::ScanFailed:
            return "failed";
        case Kind::Done:
            return "done";
        case Kind::Disconnected:
            return "disconnected";
    }
    return "";
}

void printJson(const WatchEvent& e) {
    QJsonObject out;
    out["time"] = QString::fromStdString(now("%Y-%m-%dT%H:%M:%S"));
    out["event"] = QString::fromLatin1(jsonName(e.kind));
    if (e.kind != Kind::ScanFailed) {
        out["port"] = Unicode(e.adapter.port);
        out["serial"] = Unicode(e.adapter.serial);
    }
    if (e.log) out["name"] = Unicode(e.log->name);
    if (e.kind == Kind::Connected || e.kind == Kind::Done) out["folder"] = NativeUnicode(e.folder);
    if (e.log) out["file"] = NativeUnicode(copyPath(e));
    if (e.kind == Kind::Pulled || e.kind == Kind::Unproven) out["lines"] = e.pull->read.lines.Count();
    if (e.kind == Kind::Unproven) out["expected_lines"] = static_cast<qint64>(e.pull->read.outcome.expected);
    if (e.kind == Kind::Failed || e.kind == Kind::ScanFailed || e.kind == Kind::Unproven)
        out["reason"] = Unicode(reason(e));
    if (e.kind == Kind::Done) {
        out["pulled"] = e.tally.pulled;
        out["already_there"] = e.tally.already_there;
        out["deleted"] = e.tally.deleted;
        out["failed"] = e.tally.failed;
        out["not_proven_whole"] = e.tally.unproven;
    }
    PrintJson(QJsonDocument(out), true);
}

void printText(const WatchEvent& e) {
    std::string text;
    const std::string name = e.log ? e.log->name : std::string();
    switch (e.kind) {
        case Kind::Connected:
            text = "connected on " + e.adapter.port + "; its logs go to " + Native(e.folder);
            break;
        case Kind::Pulled:
            text = "pulled " + name + "  " + copyOf(e) + "  " + std::to_string(e.pull->read.lines.Count()) + " lines";
            break;
        case Kind::Unproven:
            text = "kept, not proven whole " + name + "  " + copyOf(e) + "  " +
                   std::to_string(e.pull->read.lines.Count()) + " lines\n" + reason(e);
            break;
        case Kind::AlreadyThere:
            text = "already there " + name + "  " + copyOf(e);
            break;
        case Kind::Deleted:
            text = "deleted " + name + " (its copy: " + copyOf(e) + ")";
            break;
        case Kind::Failed:
        case Kind::ScanFailed:
            text = "failed: " + reason(e);
            break;
        case Kind::Done:
            text = "done: pulled " + std::to_string(e.tally.pulled) + ", already there " +
                   std::to_string(e.tally.already_there) + ", deleted " + std::to_string(e.tally.deleted) +
                   ", failed " + std::to_string(e.tally.failed) +
                   (e.tally.unproven > 0 ? ", not proven whole " + std::to_string(e.tally.unproven) : std::string()) +
                   "; it may be unplugged";
            break;
        case Kind::Disconnected:
            text = "disconnected";
            break;
    }
    // A reason of several lines goes on, indented, under its event.
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        text.insert(at + 1, "    ");
    const std::string who = e.kind == Kind::ScanFailed ? "scan" : e.adapter.serial.empty() ? "-" : e.adapter.serial;
    std::printf("%s  %s  %s\n", now("%Y-%m-%d %H:%M:%S").c_str(), who.c_str(), text.c_str());
}

}  // namespace

int watchCommand(const Options& o) {
    if (!FolderExists(o.to, true)) return kUsage;
    static std::atomic<bool> stop{false};
    StopOnInterrupt(&stop);

    // The loggers being served, each on its line of the board, with the log
    // coming on it (never shown by itself: the board shows its text).
    ProgressBoard board;
    std::map<std::string, std::unique_ptr<TransferLine>> reading;
    const auto key = [](const Adapter& a) { return a.serial.empty() ? a.port : a.serial; };
    WatchOptions options;
    options.dir = FromLocal(o.to);
    options.delete_verified = o.delete_verified;
    options.parallel = o.parallel;
    // The watch calls these one at a time, from the threads that serve.
    Watch watch(
        options, [] { return ScanMachinePorts(); },
        [&](const WatchEvent& e) {
            board.Erase();
            if (e.log || e.kind == Kind::Done) {
                board.Remove(key(e.adapter));
                reading.erase(key(e.adapter));
            }
            (o.json ? printJson : printText)(e);
            std::fflush(stdout);
        },
        [&](const Adapter& a, const fatdss_t& log, int lines, std::size_t bytes) {
            std::unique_ptr<TransferLine>& line = reading[key(a)];
            if (!line || line->Name() != log.name)
                line = std::make_unique<TransferLine>(log.name, static_cast<std::uint32_t>(ExpectedLines(log)));
            board.Set(key(a), line->Now(lines, bytes));
        });
    if (!o.json) {
        std::printf("%s  watching for the logger's adapters; logs go to %s/SERIAL. Ctrl-C ends.\n",
                    now("%Y-%m-%d %H:%M:%S").c_str(), Native(options.dir).c_str());
        std::fflush(stdout);
    }
    watch.Run(stop);
    board.Erase();
    return watch.AnyFailed() ? kFailed : kDone;
}
