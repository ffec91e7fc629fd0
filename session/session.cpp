#include "session.h"

#include <chrono>
#include <thread>

#include "fatdss.h"
#include "serial.h"

namespace {

// Closes the port however the conversation ends.
struct PortGuard {
    ~PortGuard() { CloseCom(); }
};

void wait(const Pause& pause, int ms) {
    if (pause)
        pause(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::size_t heard() { return LastExchange().bytes + LastExchange().drained; }

// Adds what the conversation's own command heard, and whether it was written.
void noteCommand(Conversation* c) {
    c->heard += heard();
    c->sent = LastExchange().sent;
}

// Opens the port; false (with the reason in c) when it does not open.
bool openPort(const std::string& port, Conversation* c) {
    c->opened = OpenCom(port) != 0;
    if (c->opened) return true;
    std::string reason = OpenComError();
    if (reason.empty()) reason = "unknown reason";
    const std::string advice = OpenFailureAdvice(port, reason);
    c->open_error = advice.empty() ? reason : reason + "\n" + advice;
    CloseCom();
    return false;
}

// "md mach", "fs stop": true when both ended normally.
bool preamble(Conversation* c) {
    for (const char* cmd : {"md mach\r", "fs stop\r"}) {
        krx_cmd(cmd, 2, &c->end);
        c->heard += heard();
        if (!Conversation::Normal(c->end)) return false;
    }
    return true;
}

}  // namespace

Conversation ListLogs(const std::string& port, const Pause& pause) {
    Conversation c;
    if (!openPort(port, &c)) return c;
    PortGuard guard;
    wait(pause, 100);
    if (!preamble(&c)) return c;
    wait(pause, 100);
    c.end = mlt_cmd("fs list\r", c.reply, 1);
    noteCommand(&c);
    return c;
}

Conversation ReadLog(const std::string& port, const std::string& name, const Progress& progress, const Pause& pause) {
    Conversation c;
    if (!openPort(port, &c)) return c;
    PortGuard guard;
    wait(pause, 100);
    if (!preamble(&c)) return c;
    std::size_t bytes = 0;
    c.end = slt_cmd("fs read " + name + "\r", c.reply, 1, [&](int lines) {
        if (lines > 0) bytes += c.reply.Get(lines - 1).size() + 1;
        if (progress) progress(lines, bytes);
    });
    noteCommand(&c);
    return c;
}

Conversation DeleteLog(const std::string& port, const std::string& name, const Pause& pause) {
    Conversation c;
    if (!openPort(port, &c)) return c;
    PortGuard guard;
    if (!preamble(&c)) return c;
    wait(pause, 500);
    const std::string reply = krx_cmd("fs del " + name + "\r", 1, &c.end);
    noteCommand(&c);
    if (!reply.empty()) c.reply.Add(reply);
    return c;
}

std::string OpenFailureText(const std::string& port, const std::string& reason, const std::string& consequence) {
    return "The port \"" + port + "\" could not be opened:\n" + reason + "\n\n" + consequence;
}

std::string NoAnswerText(const std::string& port, const std::string& consequence) {
    return "The device on " + port + " did not answer.\nIs it switched on and connected, and is " + port +
           " its port?\n\n" + consequence;
}

std::string ExchangeProblem(ExchangeEnd end, const std::string& what) {
    switch (end) {
        case ExchangeEnd::WriteFailed:
            return "The command for the " + what + " could not be sent: the device did not accept it in time.";
        case ExchangeEnd::LineLost:
            return "The connection to the device was lost during the " + what + ".";
        case ExchangeEnd::Overrun:
            return "The device's reply did not end; the " + what + " was cut at the program's limit.";
        case ExchangeEnd::NotOpen:
            return "The connection to the device was not open.";
        case ExchangeEnd::Silence:
        case ExchangeEnd::LineEnd:
        case ExchangeEnd::Stopped:
            break;
    }
    return std::string();
}

std::vector<std::string> SplitListing(const TStringList& reply, TStringList* logs) {
    std::vector<std::string> other;
    for (const std::string& line : reply.Lines()) {
        if (is_log_line(line))
            logs->Add(line);
        else
            other.push_back(line);
    }
    return other;
}

std::string NoLogsListedText(const std::string& port, const std::vector<std::string>& other) {
    return "The device on " + port + " listed no log. It answered:\n" + Quoted(other);
}

std::string Quoted(const std::vector<std::string>& lines, std::size_t max_lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < max_lines; ++i) {
        std::string line = lines[i].substr(0, 80);
        for (char& ch : line)
            if (static_cast<unsigned char>(ch) < 0x20) ch = ' ';
        text += "    \"" + line + (lines[i].size() > 80 ? "...\"\n" : "\"\n");
    }
    if (lines.size() > max_lines) text += "    (" + std::to_string(lines.size() - max_lines) + " more lines)\n";
    return text;
}
