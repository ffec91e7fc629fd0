#include "watch.h"

#include <QDir>

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

#include "record.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits `span`, in pieces, ending early when `stop` is set.
void Sleep(std::chrono::milliseconds span, const std::atomic<bool>& stop) {
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
    while (!stop.load()) {
        Look(stop);
        Sleep(options_.scan_every, stop);
    }
    Wait();
}

void Watch::Wait() { Reap(true); }

void Watch::Reap(bool all) {
    for (auto it = servers_.begin(); it != servers_.end();) {
        if (!all && !(*it)->done.load()) {
            ++it;
            continue;
        }
        (*it)->thread.join();
        it = servers_.erase(it);
    }
}

PortScanResult Watch::ScanNow() {
    std::lock_guard<std::mutex> lock(scan_mutex_);
    return scan_();
}

void Watch::Emit(const WatchEvent& e) {
    if (e.kind == WatchEvent::Kind::Failed || e.kind == WatchEvent::Kind::ScanFailed ||
        e.kind == WatchEvent::Kind::Unproven)
        any_failed_ = true;
    std::lock_guard<std::mutex> lock(tell_mutex_);
    sink_(e);
}

bool Watch::Look(const std::atomic<bool>& stop) {
    Reap(false);
    const PortScanResult scan = ScanNow();
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
    const auto serving = [this](const std::function<bool(const Adapter&)>& which) {
        return std::any_of(servers_.begin(), servers_.end(), [&](const auto& s) { return which(s->adapter); });
    };
    if (!scan.error.Failed()) {
        for (auto it = present_.begin(); it != present_.end();) {
            // One still being served is told gone once its offload has ended.
            if (now.count(*it) || serving([&](const Adapter& a) { return a == *it; })) {
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
    // Each new adapter on a thread of its own, as many as allowed. One whose
    // port is still held by an offload (its adapter was swapped in the
    // middle of it) waits for a later look, as do those over the cap.
    bool began = false;
    for (const Adapter& a : now) {
        if (stop.load() || present_.count(a)) continue;
        if (options_.parallel > 0 && servers_.size() >= static_cast<std::size_t>(options_.parallel)) break;
        if (serving([&](const Adapter& s) { return s.port == a.port; })) continue;
        present_.insert(a);
        auto server = std::make_unique<Server>();
        server->adapter = a;
        Server& s = *server;
        s.thread = std::thread([this, &s, &stop] {
            Serve(s.adapter, stop);
            s.done = true;
        });
        servers_.push_back(std::move(server));
        began = true;
    }
    return began;
}

void Watch::Report(Offload& o, WatchEvent::Kind kind, const std::function<void(WatchEvent&)>& fill) {
    using Kind = WatchEvent::Kind;
    WatchEvent e;
    e.kind = kind;
    e.adapter = o.adapter;
    e.folder = o.folder;
    if (fill) fill(e);
    int* count = kind == Kind::Pulled         ? &o.tally.pulled
                 : kind == Kind::AlreadyThere ? &o.tally.already_there
                 : kind == Kind::Deleted      ? &o.tally.deleted
                 : kind == Kind::Failed       ? &o.tally.failed
                 : kind == Kind::Unproven     ? &o.tally.unproven
                                              : nullptr;
    if (count) ++*count;
    if (kind == Kind::Done) e.tally = o.tally;
    Emit(e);
}

Progress Watch::ProgressOf(const Adapter& a, const fatdss_t& log) {
    return [this, &a, &log](int lines, std::size_t bytes) {
        if (!progress_) return;
        std::lock_guard<std::mutex> lock(tell_mutex_);
        progress_(a, log, lines, bytes);
    };
}

// The port may still be being set up when its adapter appears: it is tried
// for a while.
Listing Watch::FirstListing(Offload& o, const std::atomic<bool>& stop) {
    const auto give_up = Clock::now() + options_.open_for;
    Listing listing = ListLogs(o.line, o.adapter.port);
    while (listing.outcome.kind == Ending::PortNotOpened && Clock::now() < give_up && !stop.load()) {
        Sleep(options_.open_retry, stop);
        if (!stop.load()) listing = ListLogs(o.line, o.adapter.port);
    }
    return listing;
}

// Each log goes to the folder of the serial it was filed under: before each,
// the adapter on the port must still be that one (another may have been
// plugged in under the port's name meanwhile). When it is not, that is told
// and the offload ends.
bool Watch::SameAdapter(Offload& o) {
    const PortScanResult now = ScanNow();
    if (AdaptersOf(now).count(o.adapter)) return true;
    const std::string& port = o.adapter.port;
    Report(o, WatchEvent::Kind::Failed, [&](WatchEvent& e) {
        e.adapter_error = now.error.Failed()
                              ? "the scan failed, so the adapter on " + port + " is not known to be this one"
                              : "the adapter on " + port + " is no longer this one";
    });
    Report(o, WatchEvent::Kind::Done, {});
    return false;
}

bool Watch::PullNew(Offload& o, const Listing& listing, std::vector<fatdss_t>* copied, const std::atomic<bool>& stop) {
    using Kind = WatchEvent::Kind;
    const std::vector<fatdss_t> wanted = NotYetIn(listing, o.folder, copied);
    for (const fatdss_t& log : *copied) Report(o, Kind::AlreadyThere, [&](WatchEvent& e) { e.log = &log; });
    if (!wanted.empty() && !QDir().mkpath(o.folder)) {
        Report(o, Kind::Failed, [&](WatchEvent& e) { e.folder_error = "the folder could not be made"; });
        Report(o, Kind::Done, {});
        return false;
    }
    for (const fatdss_t& log : wanted) {
        if (!SameAdapter(o)) return false;
        const Pull p = PullLog(o.line, o.adapter.port, log, o.folder, ProgressOf(o.adapter, log));
        if (p.read.outcome.kind == Ending::Stopped) return false;
        const bool kept = p.Kept();
        // Only a log read whole is ever a candidate for the delete.
        const bool whole = p.read.outcome.Whole();
        if (kept && whole) copied->push_back(log);
        Report(o,
               !kept                                     ? Kind::Failed
               : !whole                                  ? Kind::Unproven
               : p.kept.result == Keeping::Result::Saved ? Kind::Pulled
                                                         : Kind::AlreadyThere,
               [&](WatchEvent& e) {
                   e.log = &log;
                   e.pull = &p;
               });
        if (stop.load()) return false;
        if (Unreachable(p.read.outcome)) {
            Report(o, Kind::Done, {});
            return false;
        }
    }
    return true;
}

bool Watch::DeleteCopied(Offload& o, const Listing& listing, const std::vector<fatdss_t>& copied,
                         const std::atomic<bool>& stop) {
    for (const fatdss_t& log : copied) {
        if (!SameAdapter(o)) return false;
        const VerifiedDelete d =
            DeleteVerified(o.line, o.adapter.port, listing, log.name, o.folder, ProgressOf(o.adapter, log));
        // Stopped anywhere, the log is still on the device or gone with its
        // equal copy kept: either way nothing is lost, and nothing is told.
        if (d.Stopped()) return false;
        const bool deleted = d.result == VerifiedDelete::Result::Deleted;
        Report(o, deleted ? WatchEvent::Kind::Deleted : WatchEvent::Kind::Failed, [&](WatchEvent& e) {
            e.log = &log;
            e.deletion = &d;
        });
        if (stop.load()) return false;
        if (d.result == VerifiedDelete::Result::PortNotOpened ||
            (d.result == VerifiedDelete::Result::NotRead && Unreachable(d.read.outcome)))
            break;
    }
    return true;
}

void Watch::Serve(const Adapter& a, const std::atomic<bool>& stop) {
    Offload o{a, LoggerFolder(options_.dir, a.serial), {}, {}};
    const Listing listing = FirstListing(o, stop);
    if (listing.outcome.kind == Ending::Stopped || stop.load()) return;
    // Told as connected only once its port opened.
    if (listing.outcome.kind != Ending::PortNotOpened) Report(o, WatchEvent::Kind::Connected, {});
    if (!listing.Complete()) {
        Report(o, WatchEvent::Kind::Failed, [&](WatchEvent& e) { e.listing = &listing; });
        RecordFailed(o.folder, fatdss_t(), "listing", EndingCode(listing.outcome.kind), listing.outcome.error.text);
        return Report(o, WatchEvent::Kind::Done, {});
    }
    std::vector<fatdss_t> copied;
    if (!PullNew(o, listing, &copied, stop)) return;
    if (options_.delete_verified && !DeleteCopied(o, listing, copied, stop)) return;
    Report(o, WatchEvent::Kind::Done, {});
}
