// The rules of offloading a device's logs into a folder, for any front end
// that offloads (krx3 today): which logs are new, how a copy is kept, and
// when a log may leave the device.
//
// - A log's copy is the file named as the window's save dialog proposes it
//   (fatdss_t::file) in the folder.
// - A log is kept as a new file: an existing file is never replaced. It is
//   kept when it came whole, and also when it ended as the device ended it
//   but is not proven whole (Outcome::Unproven): then it is told so, and
//   kept beside the log's own name (UnprovenPath), which stays free for the
//   whole log.
// - A log counts as there only when the folder's record (record.h) says it
//   was pulled whole into its copy and the copy still holds those bytes. A
//   file at its name proves nothing by itself: the log is read, and a file
//   with the same bytes is "already there", one with other bytes a failure.
// - A log is deleted from the device only after it was read again whole
//   (Done: every line its duration leads to expect, each with its line end,
//   and 0.26 s of quiet after them) and found equal, byte for byte, to its
//   copy; a listing after the delete confirms that it is gone.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "session/session.h"

// The path of `log`'s copy in `dir`.
QString CopyPath(const QString& dir, const fatdss_t& log);
// Where a read of `log` that is not proven whole is kept: its copy's name
// with "-unproven" before ".log".
QString UnprovenPath(const QString& dir, const fatdss_t& log);

// The folder of one logger's copies in `dir`: DIR/SERIAL, the serial number
// with every character but letters, digits, '-', '_' and '.' replaced by
// '_' ("no-serial" for an adapter without one), trailing dots as well, and
// a '_' before a name that Windows keeps for a device (CON, NUL, COM1, ...):
// a folder of its own on both systems, never "." or "..".
QString LoggerFolder(const QString& dir, const std::string& serial);

// The logs of `listing` that `dir`'s record does not know as pulled whole
// into a copy that still holds their bytes, earliest first; the others go to
// *there.
std::vector<fatdss_t> NotYetIn(const Listing& listing, const QString& dir, std::vector<fatdss_t>* there);

// How a log was kept.
struct Keeping {
    enum class Result {
        Saved,         // written to a new file
        AlreadyThere,  // the file was there with the same bytes
        OtherContent,  // the file was there with other bytes: kept as it was
        Unreadable,    // the file was there and could not be read: kept as it was
        Failed,        // it could not be written (`error`); nothing is left
    };
    Result result = Result::Failed;
    QString path;
    std::string error;  // Unreadable, Failed: the system's reason
};

// Saves `lines` as a new file at `path`, never replacing one.
Keeping KeepNew(const QString& path, const std::vector<std::string>& lines);

// One log read from the device and kept in `dir`: nothing is kept unless
// the read came whole or Unproven(); a whole one that is kept (or found
// already there) is written into the folder's record, and so is every
// failure but a stop.
struct Pull {
    LogRead read;
    bool tried = false;  // the read was whole or Unproven(), and keeping was tried
    Keeping kept;
    std::string record_error;  // why the record could not be written, when it could not

    // It was kept: saved, or found already there with the same bytes.
    bool Kept() const {
        return tried && (kept.result == Keeping::Result::Saved || kept.result == Keeping::Result::AlreadyThere);
    }
};
Pull PullLog(Connection& line, const std::string& port, const fatdss_t& log, const QString& dir,
             const Progress& progress = {});

// A delete that only happens when the copy is proven equal. The folder's
// record gets the delete, with the digest of the copy it was checked
// against, or its failure (but a stop).
struct VerifiedDelete {
    enum class Result {
        Deleted,         // deleted, and the listing after it no longer holds it
        NotListed,       // the device lists no such log: nothing was sent
        NoCopy,          // no copy in the folder: nothing was sent
        NotRead,         // the log did not come whole when read again (`read`)
        CopyDiffers,     // the copy holds other bytes
        CopyUnreadable,  // the copy could not be read (`copy_error`)
        PortNotOpened,   // the port did not open for the delete (`deletion`)
        NotSent,         // the delete command did not go out (`deletion`)
        NotConfirmed,    // the listing after the delete failed (`after`)
        StillListed,     // the device still lists the log (`deletion.reply`)
    };
    Result result = Result::NotListed;
    QString copy;              // the copy's path
    std::string copy_error;    // CopyUnreadable: the system's reason
    LogRead read;              // the read that was compared, when one ran
    Deletion deletion;         // the delete, when one ran
    Listing after;             // the listing after it, when one ran
    std::string record_error;  // why the folder's record could not be written, when it could not

    // One of its conversations was stopped: the log is still on the device,
    // or gone with its equal copy kept.
    bool Stopped() const {
        return read.outcome.kind == Ending::Stopped || deletion.outcome.kind == Ending::Stopped ||
               after.outcome.kind == Ending::Stopped;
    }
};
VerifiedDelete DeleteVerified(Connection& line, const std::string& port, const Listing& listing,
                              const std::string& name, const QString& dir, const Progress& progress = {});
