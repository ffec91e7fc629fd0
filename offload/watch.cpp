#include "watch.h"

#include <QDir>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Waits `span`, in pieces, ending early when `stop` is set.
void Wait(std::chrono::milliseconds span, const std::atomic<bool>& stop) {
    const auto until = Clock::now() + span;
    while (!stop.load() && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(100), until - Clock::now()));
}

// The device is gone or does not answer: nothing more is asked of it.
bool Unreachable(const Outcome& o) { return o.kind == Ending::PortNotOpened || !o.answered; }

}  // namespace

QString LoggerFolder(const QString& dir, const std::string& serial) {
    std::string name;
    for (const char c : serial) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        name += plain ? c : '_';
    }
    if (name.empty()) name = "no-serial";
    if (name == "." || name == "..") name = std::string(name.size(), '_');
    return QDir(dir).filePath(QString::fromStdString(name));
}

Watch::Watch(WatchOptions options, Scan scan, Sink sink, LogProgress progress)
    : options_(std::move(options)), scan_(std::move(scan)), sink_(std::move(sink)), progress_(std::move(progress)) {}

void Watch::Run(const std::atomic<bool>& stop) {
    while (!stop.load())
        if (!Look(stop)) Wait(options_.scan_every, stop);
}

void Watch::Tell(WatchEvent e) {
    if (e.kind == WatchEvent::Kind::Failed || e.kind == WatchEvent::Kind::ScanFailed) any_failed_ = true;
    sink_(e);
}

bool Watch::Look(const std::atomic<bool>& stop) {
    const PortScanResult scan = scan_();
    if (scan.error.Failed()) {
        // The ports it lacks may only be unread: none counts as gone.
        if (scan.error.text != scan_failure_) {
            WatchEvent e;
            e.kind = WatchEvent::Kind::ScanFailed;
            e.scan_error = scan.error;
            Tell(e);
        }
        scan_failure_ = scan.error.text;
    } else {
        scan_failure_.clear();
    }
    std::set<Adapter> now;
    for (std::size_t i = 0; i < scan.ports.size(); ++i)
        now.insert({scan.ports[i], i < scan.serials.size() ? scan.serials[i] : std::string()});
    if (!scan.error.Failed()) {
        for (auto it = present_.begin(); it != present_.end();) {
            if (now.count(*it)) {
                ++it;
                continue;
            }
            WatchEvent e;
            e.kind = WatchEvent::Kind::Disconnected;
            e.adapter = *it;
            e.folder = LoggerFolder(options_.dir, it->serial);
            it = present_.erase(it);
            Tell(e);
        }
    }
    // One new adapter a look: an offload can take minutes, in which an
    // adapter found by this scan may have been unplugged and another plugged
    // in under its port's name. The next look scans again.
    for (const Adapter& a : now) {
        if (stop.load() || !present_.insert(a).second) continue;
        Serve(a, stop);
        return true;
    }
    return false;
}

bool Watch::Serve(const Adapter& a, const std::atomic<bool>& stop) {
    WatchEvent base;
    base.adapter = a;
    base.folder = LoggerFolder(options_.dir, a.serial);
    const auto tell = [&](WatchEvent::Kind kind, auto&& fill) {
        WatchEvent e = base;
        e.kind = kind;
        fill(e);
        Tell(e);
    };
    const auto nothing = [](WatchEvent&) {};
    Tally tally;
    const auto done = [&] { tell(WatchEvent::Kind::Done, [&](WatchEvent& e) { e.tally = tally; }); };
    tell(WatchEvent::Kind::Connected, nothing);

    // The port may still be being set up: it is tried for a while.
    const auto give_up = Clock::now() + options_.open_for;
    Listing listing = ListLogs(a.port);
    while (listing.outcome.kind == Ending::PortNotOpened && Clock::now() < give_up && !stop.load()) {
        Wait(options_.open_retry, stop);
        if (!stop.load()) listing = ListLogs(a.port);
    }
    if (listing.outcome.kind == Ending::Stopped || stop.load()) return false;
    if (!listing.outcome.Whole()) {
        ++tally.failed;
        tell(WatchEvent::Kind::Failed, [&](WatchEvent& e) { e.listing = &listing; });
        done();
        return true;
    }

    std::vector<fatdss_t> copied;
    std::vector<fatdss_t> wanted = NotYetIn(listing, base.folder, &copied);
    for (const fatdss_t& log : copied) {
        ++tally.already_there;
        tell(WatchEvent::Kind::AlreadyThere, [&](WatchEvent& e) { e.log = &log; });
    }
    if (!wanted.empty() && !QDir().mkpath(base.folder)) {
        ++tally.failed;
        tell(WatchEvent::Kind::Failed, [&](WatchEvent& e) { e.folder_error = "the folder could not be made"; });
        done();
        return true;
    }
    for (const fatdss_t& log : wanted) {
        const Pull p = PullLog(a.port, log, base.folder, [&](int lines, std::size_t bytes) {
            if (progress_) progress_(log, lines, bytes);
        });
        if (p.read.outcome.kind == Ending::Stopped) return false;
        const bool kept = p.tried && (p.kept.result == Keeping::Result::Saved ||
                                      p.kept.result == Keeping::Result::AlreadyThere);
        if (kept) copied.push_back(log);
        const auto kind = !kept ? WatchEvent::Kind::Failed
                          : p.kept.result == Keeping::Result::Saved ? WatchEvent::Kind::Pulled
                                                                    : WatchEvent::Kind::AlreadyThere;
        ++(kind == WatchEvent::Kind::Failed ? tally.failed
           : kind == WatchEvent::Kind::Pulled ? tally.pulled
                                              : tally.already_there);
        tell(kind, [&](WatchEvent& e) {
            e.log = &log;
            e.pull = &p;
        });
        if (stop.load()) return false;
        if (Unreachable(p.read.outcome)) {
            done();
            return true;
        }
    }

    if (options_.delete_verified) {
        for (const fatdss_t& log : copied) {
            const VerifiedDelete d = DeleteVerified(a.port, listing, log.name, base.folder,
                                                    [&](int lines, std::size_t bytes) {
                                                        if (progress_) progress_(log, lines, bytes);
                                                    });
            // Stopped anywhere, the log is still on the device or gone with its
            // equal copy kept: either way nothing is lost, and nothing is told.
            if (d.read.outcome.kind == Ending::Stopped || d.deletion.outcome.kind == Ending::Stopped ||
                d.after.outcome.kind == Ending::Stopped)
                return false;
            const bool deleted = d.result == VerifiedDelete::Result::Deleted;
            ++(deleted ? tally.deleted : tally.failed);
            tell(deleted ? WatchEvent::Kind::Deleted : WatchEvent::Kind::Failed, [&](WatchEvent& e) {
                e.log = &log;
                e.deletion = &d;
            });
            if (stop.load()) return false;
            if (d.result == VerifiedDelete::Result::PortNotOpened ||
                (d.result == VerifiedDelete::Result::NotRead && Unreachable(d.read.outcome)))
                break;
        }
    }
    done();
    return true;
}
