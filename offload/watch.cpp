#include "watch.h"

#include <QDir>

#include <algorithm>
#include <functional>
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

// The adapters a scan found: each port with its serial number.
std::set<Adapter> AdaptersOf(const PortScanResult& scan) {
    std::set<Adapter> adapters;
    for (const FoundPort& p : PortsInOrder(scan)) adapters.insert({p.name, p.serial});
    return adapters;
}

// The device is gone or does not answer: nothing more is asked of it.
bool Unreachable(const Outcome& o) { return o.kind == Ending::PortNotOpened || !o.answered; }

}  // namespace

Watch::Watch(WatchOptions options, Scan scan, Sink sink, LogProgress progress)
    : options_(std::move(options)), scan_(std::move(scan)), sink_(std::move(sink)), progress_(std::move(progress)) {}

void Watch::Run(const std::atomic<bool>& stop) {
    while (!stop.load())
        if (!Look(stop)) Wait(options_.scan_every, stop);
}

void Watch::Emit(const WatchEvent& e) {
    if (e.kind == WatchEvent::Kind::Failed || e.kind == WatchEvent::Kind::ScanFailed ||
        e.kind == WatchEvent::Kind::Unproven)
        any_failed_ = true;
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
            Emit(e);
        }
        scan_failure_ = scan.error.text;
    } else {
        scan_failure_.clear();
    }
    const std::set<Adapter> now = AdaptersOf(scan);
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
            Emit(e);
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

void Watch::Serve(const Adapter& a, const std::atomic<bool>& stop) {
    using Kind = WatchEvent::Kind;
    WatchEvent base;
    base.adapter = a;
    base.folder = LoggerFolder(options_.dir, a.serial);
    Tally tally;
    // Tells an event of this adapter, `fill` adding what it is about, and
    // counts it for the adapter's Done.
    const auto tell = [&](Kind kind, const std::function<void(WatchEvent&)>& fill) {
        WatchEvent e = base;
        e.kind = kind;
        if (fill) fill(e);
        int* count = kind == Kind::Pulled         ? &tally.pulled
                     : kind == Kind::AlreadyThere ? &tally.already_there
                     : kind == Kind::Deleted      ? &tally.deleted
                     : kind == Kind::Failed       ? &tally.failed
                     : kind == Kind::Unproven     ? &tally.unproven
                                                  : nullptr;
        if (count) ++*count;
        if (kind == Kind::Done) e.tally = tally;
        Emit(e);
    };
    const auto progress_of = [&](const fatdss_t& log) -> Progress {
        return [this, &log](int lines, std::size_t bytes) {
            if (progress_) progress_(log, lines, bytes);
        };
    };
    // The port may still be being set up: it is tried for a while. It is
    // told as connected once it opened.
    const auto give_up = Clock::now() + options_.open_for;
    Listing listing = ListLogs(a.port);
    while (listing.outcome.kind == Ending::PortNotOpened && Clock::now() < give_up && !stop.load()) {
        Wait(options_.open_retry, stop);
        if (!stop.load()) listing = ListLogs(a.port);
    }
    if (listing.outcome.kind == Ending::Stopped || stop.load()) return;
    if (listing.outcome.kind != Ending::PortNotOpened) tell(Kind::Connected, {});
    // Each log goes to the folder of the serial it was filed under: before
    // each, the adapter on the port must still be that one (another may
    // have been plugged in under the port's name meanwhile).
    const auto same_adapter = [&]() {
        const PortScanResult now = scan_();
        if (AdaptersOf(now).count(a)) return true;
        tell(Kind::Failed, [&](WatchEvent& e) {
            e.adapter_error = now.error.Failed()
                                  ? "the scan failed, so the adapter on " + a.port + " is not known to be this one"
                                  : "the adapter on " + a.port + " is no longer this one";
        });
        tell(Kind::Done, {});
        return false;
    };
    if (!listing.Complete()) {
        tell(Kind::Failed, [&](WatchEvent& e) { e.listing = &listing; });
        return tell(Kind::Done, {});
    }

    std::vector<fatdss_t> copied;
    std::vector<fatdss_t> wanted = NotYetIn(listing, base.folder, &copied);
    for (const fatdss_t& log : copied) tell(Kind::AlreadyThere, [&](WatchEvent& e) { e.log = &log; });
    if (!wanted.empty() && !QDir().mkpath(base.folder)) {
        tell(Kind::Failed, [&](WatchEvent& e) { e.folder_error = "the folder could not be made"; });
        return tell(Kind::Done, {});
    }
    for (const fatdss_t& log : wanted) {
        if (!same_adapter()) return;
        const Pull p = PullLog(a.port, log, base.folder, progress_of(log));
        if (p.read.outcome.kind == Ending::Stopped) return;
        const bool kept =
            p.tried && (p.kept.result == Keeping::Result::Saved || p.kept.result == Keeping::Result::AlreadyThere);
        // Only a log read whole is ever a candidate for the delete.
        const bool whole = p.read.outcome.Whole();
        if (kept && whole) copied.push_back(log);
        tell(!kept                                     ? Kind::Failed
             : !whole                                  ? Kind::Unproven
             : p.kept.result == Keeping::Result::Saved ? Kind::Pulled
                                                       : Kind::AlreadyThere,
             [&](WatchEvent& e) {
                 e.log = &log;
                 e.pull = &p;
             });
        if (stop.load()) return;
        if (Unreachable(p.read.outcome)) return tell(Kind::Done, {});
    }

    if (!options_.delete_verified) return tell(Kind::Done, {});
    for (const fatdss_t& log : copied) {
        if (!same_adapter()) return;
        const VerifiedDelete d = DeleteVerified(a.port, listing, log.name, base.folder, progress_of(log));
        // Stopped anywhere, the log is still on the device or gone with its
        // equal copy kept: either way nothing is lost, and nothing is told.
        if (d.read.outcome.kind == Ending::Stopped || d.deletion.outcome.kind == Ending::Stopped ||
            d.after.outcome.kind == Ending::Stopped)
            return;
        tell(d.result == VerifiedDelete::Result::Deleted ? Kind::Deleted : Kind::Failed, [&](WatchEvent& e) {
            e.log = &log;
            e.deletion = &d;
        });
        if (stop.load()) return;
        if (d.result == VerifiedDelete::Result::PortNotOpened ||
            (d.result == VerifiedDelete::Result::NotRead && Unreachable(d.read.outcome)))
            break;
    }
    tell(Kind::Done, {});
}
