#include "commands.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <cstdio>

#include "offload/offload.h"
#include "present.h"
#include "terminal.h"

namespace {

// The device's listing, after saying what went wrong with it; `status`
// kDone when it came whole.
struct Listed {
    int status = kDone;
    Listing listing;
};

// Says what went wrong with a listing, or what the device said instead of
// logs; returns the status it leads to.
int tellListing(const Listing& l, const std::string& port) {
    const int status = TellOutcome(l.outcome, port, Asked{Asked::kListing, ""});
    if (status == kDone && l.logs.empty() && !l.other.empty()) say(NoLogsListedText(port, l.other));
    return status;
}

// list, pull and delete talk to one device, one conversation after another.
Connection& deviceLine() {
    static Connection line;
    return line;
}

Listed listDevice(const std::string& port) {
    Listed out;
    out.listing = ListLogs(deviceLine(), port);
    out.status = tellListing(out.listing, port);
    return out;
}

// Ends the command at once: the port did not open or the device is not there.
bool fatal(int status) { return status == kUsage || status == kNoAnswer; }

}  // namespace

int listCommand(const Options& o, const std::string& port) {
    const Listed l = listDevice(port);
    if (fatal(l.status)) return l.status;
    const std::vector<fatdss_t>& logs = l.listing.logs;
    if (o.json) {
        QJsonArray out;
        for (const fatdss_t& e : logs) {
            QJsonObject log;
            log["name"] = Unicode(e.name);
            log["start"] = QString::fromStdString(iso_text(e.start));
            log["stop"] = QString::fromStdString(iso_text(e.stop));
            log["duration_s"] = static_cast<qint64>(e.dur);
            log["file"] = Unicode(e.file);
            out.append(log);
        }
        PrintJson(QJsonDocument(out), false);
        return l.status;
    }
    std::size_t width = 0;
    for (const fatdss_t& e : logs) width = std::max(width, duration_text(e).size());
    for (const fatdss_t& e : logs) {
        std::printf("%s  %s  %s  %-*s  %s\n", e.name.c_str(), label_text(e.start).c_str(), label_text(e.stop).c_str(),
                    static_cast<int>(width), duration_text(e).c_str(), e.file.c_str());
    }
    return l.status;
}

namespace {

// What a pull did with each log: counted for its summary, and the results
// for --json.
struct PullResults {
    int pulled = 0, there = 0, failed = 0, unproven = 0;
    QJsonArray json;

    void Add(const std::string& name, const std::string& file, const std::string& outcome) {
        QJsonObject r;
        r["name"] = Unicode(name);
        r["file"] = Unicode(file);
        r["result"] = QString::fromStdString(outcome);
        json.append(r);
        ++(outcome == "pulled" ? pulled : outcome == "failed" ? failed : outcome == "already there" ? there : unproven);
    }
    std::string Summary(bool nothing_wanted) const {
        return "pulled " + std::to_string(pulled) + ", already there " + std::to_string(there) + ", failed " +
               std::to_string(failed) +
               (unproven > 0 ? ", not proven whole " + std::to_string(unproven) : std::string()) +
               (nothing_wanted && failed == 0 ? " (nothing new to pull)" : "");
    }
};

// The logs to read: with --new those not yet in `dir` (those there are
// results already), then those named, each that the device lists.
std::vector<fatdss_t> wantedLogs(const Options& o, const Listing& listing, const QString& dir, PullResults* r) {
    std::vector<fatdss_t> wanted;
    if (o.all_new) {
        std::vector<fatdss_t> present;
        wanted = NotYetIn(listing, dir, &present);
        for (const fatdss_t& e : present) r->Add(e.name, e.file, "already there");
    }
    for (const std::string& name : o.names) {
        if (const fatdss_t* e = listing.Find(name)) {
            wanted.push_back(*e);
        } else {
            say(name + ": the device lists no such log.");
            r->Add(name, "", "failed");
        }
    }
    return wanted;
}

// Reads one log into `dir` and says how it went; the status when it ends
// the command, else kDone.
int pullOne(const Options& o, const std::string& port, const fatdss_t& e, const QString& dir, PullResults* r) {
    TransferLine line(e.name, static_cast<std::uint32_t>(ExpectedLines(e)));
    const Pull p = PullLog(deviceLine(), port, e, dir, [&](int lines, std::size_t bytes) { line.Show(lines, bytes); });
    line.Clear();
    const int status = TellOutcome(p.read.outcome, port, Asked{Asked::kRead, e.name}, p.read.lines.Count());
    if (fatal(status)) return status;
    const std::string path = Native(p.kept.path);
    const bool whole = p.read.outcome.Whole();
    if (!p.record_error.empty())
        say(e.name + ": the folder's record could not be written (" + p.record_error +
            "); the log will be read again next time.");
    std::string outcome = "failed", shown;
    if (p.tried) {
        switch (p.kept.result) {
            case Keeping::Result::Saved:
                outcome = whole ? "pulled" : "not proven whole";
                shown = std::to_string(p.read.lines.Count()) + " lines" + (whole ? "" : ", not proven whole");
                break;
            case Keeping::Result::AlreadyThere:
                outcome = whole ? "already there" : "not proven whole";
                shown = whole ? "already there" : "already there, not proven whole";
                break;
            case Keeping::Result::OtherContent:
            case Keeping::Result::Unreadable:
            case Keeping::Result::Failed:
                say(KeptText(e.name, p.kept, path));
                break;
        }
    }
    if (!shown.empty() && !o.json) std::printf("%s  %s  %s\n", e.name.c_str(), path.c_str(), shown.c_str());
    r->Add(e.name, e.file, outcome);
    return kDone;
}

}  // namespace

int pullCommand(const Options& o, const std::string& port) {
    if (!FolderExists(o.to, true)) return kUsage;
    const Listed l = listDevice(port);
    if (fatal(l.status)) return l.status;
    const QString dir = o.by_serial ? LoggerFolder(FromLocal(o.to), o.serial) : FromLocal(o.to);
    PullResults r;
    const std::vector<fatdss_t> wanted = wantedLogs(o, l.listing, dir, &r);
    if (!wanted.empty() && o.by_serial) QDir().mkpath(dir);
    // The logs already dealt with are reported also when a later one ends
    // the command.
    int status = kDone;
    for (auto e = wanted.begin(); e != wanted.end() && !fatal(status); ++e) status = pullOne(o, port, *e, dir, &r);
    if (o.json) PrintJson(QJsonDocument(r.json), false);
    if (fatal(status)) return status;
    const std::string summary = r.Summary(wanted.empty());
    if (o.json)
        say(summary);
    else
        std::printf("%s\n", summary.c_str());
    return r.failed > 0 || r.unproven > 0 || l.status != kDone ? kFailed : kDone;
}

int deleteCommand(const Options& o, const std::string& port) {
    using Result = VerifiedDelete::Result;
    if (!FolderExists(o.saved_in)) return kUsage;
    const Listed l = listDevice(port);
    if (l.status != kDone) return l.status;
    int refused = 0;
    for (const std::string& name : o.names) {
        const fatdss_t* e = l.listing.Find(name);
        TransferLine line(name, e ? static_cast<std::uint32_t>(ExpectedLines(*e)) : 0);
        const VerifiedDelete d = DeleteVerified(deviceLine(), port, l.listing, name, FromLocal(o.saved_in),
                                                [&](int lines, std::size_t bytes) { line.Show(lines, bytes); });
        line.Clear();
        const std::string path = Native(d.copy);
        if (d.result == Result::NotRead) {
            const Told t = Judge(d.read.outcome, port, Asked{Asked::kRead, name}, d.read.lines.Count());
            if (fatal(t.status)) {
                say(t.text);
                return t.status;
            }
        }
        if (d.result == Result::Deleted || d.result == Result::StillListed || d.result == Result::NotConfirmed)
            tellListing(d.after, port);
        if (d.result == Result::Deleted) {
            std::printf("%s  deleted (its copy: %s)\n", name.c_str(), path.c_str());
            continue;
        }
        say(NotDeletedText(name, d, port, path));
        if (d.result == Result::PortNotOpened) return kUsage;
        ++refused;
    }
    return refused > 0 ? kFailed : kDone;
}
