// How krx3 says what happened: the conversations' outcomes in its words,
// and its JSON.
#pragma once

#include <QJsonDocument>
#include <QString>

#include <string>

#include "offload/offload.h"
#include "session/session.h"

// What a conversation was for.
struct Asked {
    enum What { kListing, kRead } what = kListing;
    std::string name;  // kRead: the log's name
};

// What `o` means for the person (empty when there is nothing to say), and
// the exit status it leads to: kDone when the conversation went as asked.
struct Told {
    int status;
    std::string text;
};
Told Judge(const Outcome& o, const std::string& port, const Asked& asked, int lines = 0);
// Says Judge's text on standard error and returns its status.
int TellOutcome(const Outcome& o, const std::string& port, const Asked& asked, int lines = 0);

// Why a whole log was not kept (Keeping's results other than Saved and
// AlreadyThere); `path` as shown to the person.
std::string KeptText(const std::string& name, const Keeping& k, const std::string& path);
// Why a verified delete did not delete (every result but Deleted).
std::string NotDeletedText(const std::string& name, const VerifiedDelete& d, const std::string& port,
                           const std::string& path);

// A folder as given on the command line, and a path as shown to the person.
QString FromLocal(const std::string& dir);
std::string Native(const QString& path);
// A folder given on the command line that exists (with `make`, one whose
// parent exists is made); false after saying why not.
bool FolderExists(const std::string& dir, bool make = false);

// Text in the system's 8-bit encoding (a port, a device's text, a system's
// reason) as Unicode, for JSON.
QString Unicode(const std::string& local);
// A path as shown to the person, as Unicode.
QString NativeUnicode(const QString& path);
// Prints `json` on standard output as UTF-8, on one line or indented.
void PrintJson(const QJsonDocument& json, bool one_line);
