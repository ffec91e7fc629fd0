#include "present.h"

#include <cstdio>

#include "options.h"

int Tell(const Outcome& o, const std::string& port, const Asked& asked, int lines) {
    const bool listing = asked.what == Asked::kListing;
    const std::string consequence = listing ? "No logs were listed." : "Nothing was read.";
    if (o.kind == Ending::PortNotOpened) {
        say(OpenFailureText(port, o, consequence));
        return kUsage;
    }
    const std::string broken = BrokenText(o, listing ? "listing" : "upload");
    if (!o.answered) {
        say(broken.empty() ? NoAnswerText(port, consequence) : broken + "\n" + consequence);
        return kNoAnswer;
    }
    switch (o.kind) {
        case Ending::LineLost:
        case Ending::Cut:
        case Ending::NotSent:
            say(listing ? broken + "\nThe list may be incomplete."
                        : asked.name + ": " + broken + "\nOnly " + std::to_string(lines) +
                              " lines arrived; nothing was saved, and the log stays on the device.");
            return kFailed;
        case Ending::NoLines:
            say(asked.name + ": the device sent no line for this log; nothing was saved.");
            return kFailed;
        case Ending::Stopped:
            return kFailed;
        case Ending::Done:
        case Ending::PortNotOpened:
        case Ending::DeviceSilent:
            break;
    }
    return kDone;
}

std::string iso(const fatdt_t& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.min, t.sec);
    return text;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20 || ch >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", ch);
            out += esc;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}
