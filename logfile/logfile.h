// The .log files the upload saves and View Log reads back, and the command
// line pulls.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/reply_bound.h"

// The largest .log file View Log reads: the largest reply an upload accepts.
constexpr qint64 kMaxLogFileBytes = static_cast<qint64>(kReplyBound);

// Writes `lines` to `path` as the device sent them: each byte as it came (NUL
// and bytes above 0x7F included), every line followed by CR LF. Written beside
// the file and renamed over it, so a failure cannot leave a half-written file
// under the name: every write, the flush and the rename are checked, and on any
// failure the file keeps its old content (or stays absent) and no temporary file
// is left. Returns an empty string on success, else the system's reason (e.g.
// "No space left on device").
std::string WriteLogFile(const QString& path, const std::vector<std::string>& lines);
// Lines wherever they are kept: `count` of them, line i from at(i).
struct LineSource {
    std::size_t count = 0;
    std::function<std::string_view(std::size_t)> at;
};
LineSource LinesOf(const std::vector<std::string>& lines);
std::string WriteLogFile(const QString& path, const LineSource& lines);

// Writes as WriteLogFile does, but never replaces a file: the lines go into
// a new file beside `path`, which is then moved to `path` by the system's
// no-replace move (MoveToNewName), so a file that appears at `path` in the
// meantime is kept and this one is given up. Returns "" on success, else the reason; *existed
// tells whether the reason is a file already there.
std::string WriteNewLogFile(const QString& path, const std::vector<std::string>& lines, bool* existed);

// True when the file at `path` holds exactly what WriteLogFile writes for
// `lines`. False with the reason in *error when it cannot be read or is no
// plain file (a folder, a pipe: refused without being opened, so the call
// cannot block); *error stays empty when the file differs.
bool SameLogFile(const QString& path, const std::vector<std::string>& lines, QString* error);
bool SameLogFile(const QString& path, const LineSource& lines, QString* error);

// Reads a .log file's lines (CR LF or LF line ends; one byte per character,
// NUL kept). Only a plain file (or a link to one) of at most kMaxLogFileBytes
// is read: a FIFO, a device, a folder or a larger file is refused without being
// opened, so the call cannot block. Returns false with the reason in *error
// when the file is refused or cannot be read.
bool ReadLogFile(const QString& path, std::vector<std::string>* lines, QString* error);
// Reads a .log file's bytes whole, refusing what ReadLogFile refuses.
bool ReadLogFileText(const QString& path, QByteArray* text, QString* error);
// The lines of a .log file's bytes as ReadLogFile splits them (at LF, a CR
// before it dropped): where each begins and how many bytes it has.
void ForEachLine(const QByteArray& text, const std::function<void(qsizetype from, qsizetype size)>& line);
