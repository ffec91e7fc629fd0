// A folder's record of the logs pulled into it whole (krx3-record.jsonl):
// one JSON object a line, appended, so that a log pulled before is known
// again without reading the device: as long as its file still holds the
// bytes the record names by their SHA-256. A file whose digest no longer
// matches, or that the record does not name, proves nothing.
//
// A line that does not parse (a crash in the middle of writing it) is
// skipped; the lines around it still count.
#pragma once

#include <QString>

#include <map>
#include <string>

#include "catalogue/fatdss.h"

constexpr const char* kRecordName = "krx3-record.jsonl";

// The SHA-256 of a plain file's bytes in hex, or "" when it cannot be read.
std::string FileDigest(const QString& path);

// What a folder's record says was pulled whole: each log's name to the file
// name and digest of its last entry.
struct PulledCopy {
    QString file;        // the copy's name in the folder
    std::string sha256;  // of the copy's bytes when it was kept
};
std::map<std::string, PulledCopy> ReadRecord(const QString& dir);

// True when `record` names `log` with its copy's name, and that file still
// holds the bytes of the digest.
bool KnownPulled(const std::map<std::string, PulledCopy>& record, const QString& dir, const fatdss_t& log);

// Appends that `log` was read whole and is kept in `dir` as its copy, with
// its line and byte counts; returns "" or why the record could not be
// written.
std::string RecordPulled(const QString& dir, const fatdss_t& log, long lines);
