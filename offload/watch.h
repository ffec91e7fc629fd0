// Offloading each logger as its adapter is plugged in: the scan is looked
// at again and again, and an adapter that was not there at the look before
// is served once: its logs not yet in its folder (DIR/SERIAL) are pulled,
// and, when asked, each log whose copy there is proven equal is deleted
// (DeleteVerified). While it stays plugged in nothing more is sent to it;
// unplugged and plugged in again, it is served again. Each adapter is
// served on a thread of its own, on a connection of its own, side by side
// with the others (up to WatchOptions::parallel at once): the serial line,
// not the computer, is what takes the time, and one logger that fails never
// holds up another.
//
// What happens is told as events to a front end, which puts them into its
// own words; the rules are all here. Events and progress come from the
// serving threads, one call at a time (never two at once).
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "discovery/portscan.h"
#include "offload.h"

struct Adapter {
    std::string port;
    std::string serial;  // empty when the scan found none
    bool operator<(const Adapter& o) const { return std::tie(port, serial) < std::tie(o.port, o.serial); }
    bool operator==(const Adapter& o) const { return port == o.port && serial == o.serial; }
};

struct Tally {
    int pulled = 0, already_there = 0, deleted = 0, failed = 0;
    int unproven = 0;  // kept, but not proven whole: never deleted
};

struct WatchEvent {
    enum class Kind {
        Connected,     // an adapter appeared and its port opened; its offload begins
        Pulled,        // `log` was read whole and kept (`pull`)
        Unproven,      // `log` was kept as it came, but not proven whole (`pull`): it is not deleted
        AlreadyThere,  // `log` has its copy already (`pull` when it was read to tell)
        Deleted,       // `log` left the device after its copy proved equal (`deletion`)
        Failed,        // one of `listing`, `pull`, `deletion`, `folder_error` says what
        Done,          // the offload ended (`tally`); the adapter may be unplugged
        Disconnected,  // an adapter served before is no longer there
        ScanFailed,    // the scan met a read failure (`scan_error`); told once until it changes
    };
    Kind kind = Kind::Connected;
    Adapter adapter;
    QString folder;                            // the adapter's folder
    const fatdss_t* log = nullptr;             // the log the event is about, if any
    const Listing* listing = nullptr;          // Failed: the listing did not come whole
    const Pull* pull = nullptr;                // the read and the keeping
    const VerifiedDelete* deletion = nullptr;  // the verified delete
    std::string folder_error;                  // Failed: the folder could not be made
    std::string adapter_error;                 // Failed: the port's adapter is no longer the one served
    SystemError scan_error;                    // ScanFailed
    Tally tally;                               // Done
};

struct WatchOptions {
    QString dir;
    bool delete_verified = false;
    // How long a port that appeared is tried while it does not open: the
    // system may still be setting it up.
    std::chrono::milliseconds open_for{5000};
    std::chrono::milliseconds open_retry{250};
    std::chrono::milliseconds scan_every{1000};
    // How many adapters are served at once; 0: every one that is there.
    int parallel = 0;
};

class Watch {
public:
    using Scan = std::function<PortScanResult()>;
    using Sink = std::function<void(const WatchEvent&)>;
    // Called during a read with the adapter, the log and the lines and
    // bytes so far.
    using LogProgress = std::function<void(const Adapter&, const fatdss_t&, int lines, std::size_t bytes)>;

    Watch(WatchOptions options, Scan scan, Sink sink, LogProgress progress = {});
    // Waits for the adapters being served (see Wait).
    ~Watch() { Wait(); }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Looks at the scan every scan_every until `stop` is set, then waits
    // for every adapter being served: a transfer in progress ends as
    // Stopped (StopConversations must be called with `stop`), and nothing
    // of it is kept.
    void Run(const std::atomic<bool>& stop);
    // One look: tells the adapters that left and begins to serve those that
    // came; true when it began to serve one. `stop` must outlive the serving
    // (until Wait returns).
    bool Look(const std::atomic<bool>& stop);
    // Waits until no adapter is being served.
    void Wait();

    // Something failed since the watch began (a Failed, ScanFailed or
    // Unproven event).
    bool AnyFailed() const { return any_failed_; }

private:
    // One adapter's offload, on its own connection: its events carry the
    // adapter and its folder, and its Done the tally of the events before.
    struct Offload {
        Adapter adapter;
        QString folder;
        Tally tally;
        Connection line;
    };
    // An adapter being served, on its thread.
    struct Server {
        Adapter adapter;
        std::atomic<bool> done{false};
        std::thread thread;
    };

    // Serves one adapter, until its offload ends or `stop` is set: the
    // listing, the logs not yet in its folder, then the verified deletes.
    void Serve(const Adapter& a, const std::atomic<bool>& stop);
    // Joins the servers that are done; with `all`, waits for every one.
    void Reap(bool all);
    PortScanResult ScanNow();
    Listing FirstListing(Offload& o, const std::atomic<bool>& stop);
    bool SameAdapter(Offload& o);
    // Each returns false when the offload ended in it (its Done told, or
    // stopped).
    bool PullNew(Offload& o, const Listing& listing, std::vector<fatdss_t>* copied, const std::atomic<bool>& stop);
    bool DeleteCopied(Offload& o, const Listing& listing, const std::vector<fatdss_t>& copied,
                      const std::atomic<bool>& stop);
    // Tells an event of the offload, `fill` adding what it is about, and
    // counts it for the offload's Done.
    void Report(Offload& o, WatchEvent::Kind kind, const std::function<void(WatchEvent&)>& fill);
    Progress ProgressOf(const Adapter& a, const fatdss_t& log);
    void Emit(const WatchEvent& e);

    WatchOptions options_;
    Scan scan_;
    Sink sink_;
    LogProgress progress_;
    std::mutex scan_mutex_;  // one scan at a time: the look's and the servers'
    std::mutex tell_mutex_;  // one event or progress call at a time
    // Only the looking thread touches these.
    std::set<Adapter> present_;
    std::list<std::unique_ptr<Server>> servers_;
    std::string scan_failure_;
    std::atomic<bool> any_failed_{false};
};
