// A logger folder's record (krx3-record.jsonl): one JSON object a line,
// appended, of what was taken: each log pulled whole ("pulled": name, start,
// stop, lines, bytes, the SHA-256 of its file, when), each verified delete
// ("deleted": when, and the digest of the copy it was checked against), each
// failure ("failed": the step, the log, a reason code and the system's text).
// A log pulled before is known again without reading the device, as long as
// its file still holds the bytes the record names by their SHA-256. A file
// whose digest no longer matches, or that the record does not name, proves
// nothing.
//
// A line that does not parse (a crash in the middle of writing it) is
// skipped and counted; the lines around it still count.
#pragma once

#include <QString>

#include <map>
#include <string>
#include <vector>

#include "catalogue/fatdss.h"
#include "session/session.h"

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

// Appends that `log` left the device after its copy, whose bytes have the
// digest `sha256`, was found equal to it; "" or why it could not be written.
std::string RecordDeleted(const QString& dir, const fatdss_t& log, const std::string& sha256);
// The record's code for how a conversation ended (line_lost, short, ...).
const char* EndingCode(Ending kind);

// Appends a failure of `step` ("listing", "pull", "delete") for `log` (for
// a listing, a log with no name): `reason` is a
// code (line_lost, copy_differs, ...), `error` the system's text when there
// is one. Only into a folder that exists: a failure makes no folder.
std::string RecordFailed(const QString& dir, const fatdss_t& log, const std::string& step, const std::string& reason,
                         const std::string& error = {});

// Everything a record says, for a report.
struct RecordEntry {
    std::string event;  // pulled, deleted, failed
    std::string name, start, stop, file, sha256, when, step, reason, error;
    long long lines = 0, bytes = 0;
};
struct RecordContents {
    bool exists = false;
    std::vector<RecordEntry> entries;
    int torn = 0;  // lines that did not parse (written in part when the program was ended)
};
RecordContents ReadRecordContents(const QString& dir);
