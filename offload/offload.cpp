#include "offload.h"

#include <QDir>
#include <QFileInfo>

#include <cctype>

#include "logfile/logfile.h"
#include "record.h"

QString CopyPath(const QString& dir, const fatdss_t& log) {
    return QDir(dir).filePath(QString::fromStdString(log.file));
}

QString UnprovenPath(const QString& dir, const fatdss_t& log) {
    QString name = QString::fromStdString(log.file);
    if (name.endsWith(QLatin1String(".log"))) name.chop(4);
    return QDir(dir).filePath(name + QStringLiteral("-unproven.log"));
}

QString LoggerFolder(const QString& dir, const std::string& serial) {
    std::string name;
    for (const char c : serial) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        name += plain ? c : '_';
    }
    if (name.empty()) name = "no-serial";
    // Windows drops a name's trailing dots ("..." would be no name at all,
    // "A." the folder "A"): they become '_', and so do "." and "..".
    for (auto it = name.rbegin(); it != name.rend() && *it == '.'; ++it) *it = '_';
    // Windows maps its device names (CON, NUL, COM1, ...), with any
    // extension, to the device: such a serial gets a '_' before it.
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool device = stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" ||
                        (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
                         stem[3] >= '0' && stem[3] <= '9');
    if (device) name = "_" + name;
    return QDir(dir).filePath(QString::fromStdString(name));
}

std::vector<fatdss_t> NotYetIn(const Listing& listing, const QString& dir, std::vector<fatdss_t>* there) {
    const std::map<std::string, PulledCopy> record = ReadRecord(dir);
    std::vector<fatdss_t> wanted;
    for (const fatdss_t& e : listing.logs) (KnownPulled(record, dir, e) ? *there : wanted).push_back(e);
    return wanted;
}

Keeping KeepNew(const QString& path, const std::vector<std::string>& lines) {
    Keeping k;
    k.path = path;
    bool existed = false;
    k.error = WriteNewLogFile(path, lines, &existed);
    if (k.error.empty()) {
        k.result = Keeping::Result::Saved;
    } else if (existed) {
        QString read_error;
        k.error.clear();
        if (SameLogFile(path, lines, &read_error)) {
            k.result = Keeping::Result::AlreadyThere;
        } else if (read_error.isEmpty()) {
            k.result = Keeping::Result::OtherContent;
        } else {
            k.result = Keeping::Result::Unreadable;
            k.error = read_error.toLocal8Bit().toStdString();
        }
    }
    return k;
}

namespace {

// The record's codes for why a verified delete did not delete.
const char* DeleteCode(VerifiedDelete::Result result) {
    using Result = VerifiedDelete::Result;
    switch (result) {
        case Result::Deleted:
            return "deleted";
        case Result::NotListed:
            return "not_listed";
        case Result::NoCopy:
            return "no_copy";
        case Result::NotRead:
            return "not_read";
        case Result::CopyDiffers:
            return "copy_differs";
        case Result::CopyUnreadable:
            return "copy_unreadable";
        case Result::PortNotOpened:
            return "port_not_opened";
        case Result::NotSent:
            return "not_sent";
        case Result::NotConfirmed:
            return "not_confirmed";
        case Result::StillListed:
            return "still_listed";
    }
    return "";
}

Pull Pulled(Connection& line, const std::string& port, const fatdss_t& log, const QString& dir,
            const Progress& progress) {
    Pull p;
    p.read = ReadLog(line, port, log, progress);
    p.tried = p.read.outcome.Whole() || p.read.outcome.Unproven();
    if (!p.tried) return p;
    const bool whole = p.read.outcome.Whole();
    p.kept = KeepNew(whole ? CopyPath(dir, log) : UnprovenPath(dir, log), p.read.lines.Lines());
    if (whole && (p.kept.result == Keeping::Result::Saved || p.kept.result == Keeping::Result::AlreadyThere))
        p.record_error = RecordPulled(dir, log, p.read.outcome.lines);
    return p;
}

}  // namespace

Pull PullLog(Connection& line, const std::string& port, const fatdss_t& log, const QString& dir,
             const Progress& progress) {
    Pull p = Pulled(line, port, log, dir, progress);
    const Outcome& o = p.read.outcome;
    using R = Keeping::Result;
    const bool kept = p.Kept();
    // A transfer stopped on purpose is no failure; anything else not kept
    // whole is.
    if (o.kind == Ending::Stopped || (kept && o.Whole())) return p;
    const std::string reason = !p.tried || kept                   ? EndingCode(o.kind)
                               : p.kept.result == R::OtherContent ? "other_content"
                               : p.kept.result == R::Unreadable   ? "copy_unreadable"
                                                                  : "write_failed";
    const std::string error = !p.tried ? o.error.text : p.kept.error;
    const std::string recorded = RecordFailed(dir, log, "pull", reason, error);
    if (p.record_error.empty()) p.record_error = recorded;
    return p;
}

namespace {

VerifiedDelete Deleted(Connection& line, const std::string& port, const Listing& listing, const std::string& name,
                       const QString& dir, const Progress& progress) {
    using Result = VerifiedDelete::Result;
    VerifiedDelete d;
    const fatdss_t* log = listing.Find(name);
    if (!log) return d;
    d.copy = CopyPath(dir, *log);
    if (!QFileInfo(d.copy).isFile()) {
        d.result = Result::NoCopy;
        return d;
    }
    d.read = ReadLog(line, port, *log, progress);
    if (!d.read.outcome.Whole()) {
        d.result = Result::NotRead;
        return d;
    }
    QString read_error;
    if (!SameLogFile(d.copy, d.read.lines.Lines(), &read_error)) {
        d.result = read_error.isEmpty() ? Result::CopyDiffers : Result::CopyUnreadable;
        d.copy_error = read_error.toLocal8Bit().toStdString();
        return d;
    }
    d.deletion = DeleteLog(line, port, name);
    if (d.deletion.outcome.kind == Ending::PortNotOpened) {
        d.result = Result::PortNotOpened;
        return d;
    }
    if (!d.deletion.outcome.sent) {
        d.result = Result::NotSent;
        return d;
    }
    d.after = ListLogs(line, port);
    switch (d.after.AfterDeleting(name)) {
        case Listing::AfterDelete::Gone:
            d.result = Result::Deleted;
            break;
        case Listing::AfterDelete::StillListed:
            d.result = Result::StillListed;
            break;
        case Listing::AfterDelete::NotKnown:
            d.result = Result::NotConfirmed;
            break;
    }
    return d;
}

}  // namespace

VerifiedDelete DeleteVerified(Connection& line, const std::string& port, const Listing& listing,
                              const std::string& name, const QString& dir, const Progress& progress) {
    using Result = VerifiedDelete::Result;
    VerifiedDelete d = Deleted(line, port, listing, name, dir, progress);
    const fatdss_t* log = listing.Find(name);
    if (!log || d.Stopped()) return d;
    if (d.result == Result::Deleted) {
        // The copy the log was found equal to; the delete left it as it was.
        d.record_error = RecordDeleted(dir, *log, FileDigest(d.copy));
        return d;
    }
    std::string reason = DeleteCode(d.result), error = d.copy_error;
    if (d.result == Result::NotRead) {
        reason += std::string(": ") + EndingCode(d.read.outcome.kind);
        error = d.read.outcome.error.text;
    }
    if (d.result == Result::PortNotOpened || d.result == Result::NotSent) error = d.deletion.outcome.error.text;
    d.record_error = RecordFailed(dir, *log, "delete", reason, error);
    return d;
}
