// The .log files the upload saves and View Log reads back.
#pragma once

#include <QString>

#include <string>
#include <vector>

// Writes `lines` to `path` as the device sent them: each byte as it came,
// every line followed by CR LF. Written beside the file and renamed over it,
// so a failure cannot leave a half-written file under the name. Returns an
// empty string on success, else the reason.
std::string WriteLogFile(const QString& path, const std::vector<std::string>& lines);

// Reads a .log file's lines (CR LF or LF line ends; one byte per character).
// Returns false with the reason in *error when it cannot be read.
bool ReadLogFile(const QString& path, std::vector<std::string>* lines, QString* error);
