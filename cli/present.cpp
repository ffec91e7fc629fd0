#include "present.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

#include "options.h"

int TellOutcome(const Outcome& o, const std::string& port, const Asked& asked, int lines) {
    const Told t = Judge(o, port, asked, lines);
    if (!t.text.empty()) say(t.text);
    return t.status;
}

Told Judge(const Outcome& o, const std::string& port, const Asked& asked, int lines) {
    const bool listing = asked.what == Asked::kListing;
    const std::string consequence = listing ? "No logs were listed." : "Nothing was read.";
    if (o.kind == Ending::PortNotOpened) return {kUsage, OpenFailureText(port, o, consequence)};
    const std::string what = listing ? "listing" : "upload";
    if (!o.answered) return {kNoAnswer, UnansweredText(o, port, what, consequence)};
    const std::string broken = BrokenText(o, what);
    switch (o.kind) {
        case Ending::LineLost:
        case Ending::Cut:
        case Ending::NotSent:
            return {kFailed, listing ? broken + "\nThe list may be incomplete."
                                     : asked.name + ": " + broken + "\nOnly " + std::to_string(lines) +
                                           " lines arrived; nothing was saved, and the log stays on the device."};
        case Ending::NoLines:
            if (listing) return {kDone, NothingListedText(port)};
            return {kFailed, asked.name + ": the device sent no line for this log; nothing was saved."};
        case Ending::Short:
        case Ending::Unended:
            return {kFailed, UnprovenText(o, asked.name) + "\nThe log stays on the device."};
        case Ending::Stopped:
            return {kFailed, ""};
        case Ending::Done:
        case Ending::PortNotOpened:
        case Ending::DeviceSilent:
            break;
    }
    return {kDone, ""};
}

std::string KeptText(const std::string& name, const Keeping& k, const std::string& path) {
    switch (k.result) {
        case Keeping::Result::Saved:
        case Keeping::Result::AlreadyThere:
            break;
        case Keeping::Result::OtherContent:
            return name + ": \"" + path + "\" exists with other content; it was not replaced.";
        case Keeping::Result::Unreadable:
            return name + ": \"" + path + "\" exists and cannot be read (" + k.error + "); it was not replaced.";
        case Keeping::Result::Failed:
            return name + ": could not be saved to \"" + path + "\": " + k.error;
    }
    return std::string();
}

std::string NotDeletedText(const std::string& name, const VerifiedDelete& d, const std::string& port,
                           const std::string& path) {
    using Result = VerifiedDelete::Result;
    switch (d.result) {
        case Result::Deleted:
            break;
        case Result::NotListed:
            return name + ": the device lists no such log; nothing was deleted.";
        case Result::NoCopy:
            return name + ": there is no copy \"" + path + "\"; the log stays on the device.";
        case Result::NotRead: {
            const std::string why = Judge(d.read.outcome, port, Asked{Asked::kRead, name}, d.read.lines.Count()).text;
            if (d.read.outcome.Unproven())
                return why + "\n" + name +
                       ": without a whole read its copy cannot be proven whole; nothing was deleted.";
            return (why.empty() ? "" : why + "\n") + name +
                   ": the log could not be read again to compare; it stays on the device.";
        }
        case Result::CopyDiffers:
            return name + ": \"" + path + "\" differs from the log on the device; the log stays on the device.";
        case Result::CopyUnreadable:
            return name + ": \"" + path + "\" cannot be read (" + d.copy_error + "); the log stays on the device.";
        case Result::PortNotOpened:
            return OpenFailureText(port, d.deletion.outcome, "The log was not deleted.");
        case Result::NotSent:
            return name + ": the delete command could not be sent; the log was not deleted.";
        case Result::NotConfirmed:
            return name + ": the listing after the delete failed; whether the log is gone is not known.";
        case Result::StillListed:
            return name + ": the device did not delete the log; it is still listed." +
                   (d.deletion.reply.empty() ? std::string()
                                             : "\nIts reply to the delete command:\n" + Quoted({d.deletion.reply}, 1));
    }
    return std::string();
}

QString FromLocal(const std::string& dir) { return QString::fromLocal8Bit(dir.c_str()); }

std::string Native(const QString& path) { return QDir::toNativeSeparators(path).toLocal8Bit().toStdString(); }

bool FolderExists(const std::string& dir, bool make) {
    const QFileInfo info(FromLocal(dir));
    if (!info.exists() && make && info.dir().exists() && QDir().mkpath(info.absoluteFilePath())) return true;
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

QString Unicode(const std::string& local) {
    return QString::fromLocal8Bit(local.data(), static_cast<qsizetype>(local.size()));
}

QString NativeUnicode(const QString& path) { return QDir::toNativeSeparators(path); }

void PrintJson(const QJsonDocument& json, bool one_line) {
    const QByteArray text = json.toJson(one_line ? QJsonDocument::Compact : QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    if (one_line) std::fputc('\n', stdout);
}
