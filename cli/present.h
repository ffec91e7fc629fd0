// How krx3 says what happened: the conversations' outcomes in its words,
// and its JSON.
#pragma once

#include <string>

#include "session.h"

// What a conversation was for.
struct Asked {
    enum What { kListing, kRead } what = kListing;
    std::string name;  // kRead: the log's name
};

// Says what `o` means for the person, on standard error, and returns the
// exit status it leads to: kDone when the conversation went as asked.
int Tell(const Outcome& o, const std::string& port, const Asked& asked, int lines = 0);

// "YYYY-MM-DDThh:mm:ss".
std::string iso(const fatdt_t& t);
// A JSON string: ASCII, everything else escaped.
std::string jsonString(const std::string& s);
