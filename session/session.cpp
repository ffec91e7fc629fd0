#include "session.h"

#include <chrono>
#include <limits>
#include <thread>

#include "link/exchange.h"
#include "link/serial.h"

namespace {

void wait(const Pause& pause, int ms) {
    if (pause)
        pause(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// True for the ends of an exchange after which the conversation goes on.
bool normal(ExchangeEnd end) { return end == ExchangeEnd::Silence || end == ExchangeEnd::LineEnd; }

// One conversation from opening the port to closing it: it follows its
// exchanges and decides at the end how the conversation went.
class Talk {
public:
    Talk(Connection& line, const std::string& port, const Pause& pause) : line_(line), pause_(pause) {
        opened_ = line_.Open(port);
        if (opened_) return;
        error_ = line_.OpenError();
        advice_ = OpenFailureAdvice(port, error_);
        line_.Close();
    }
    ~Talk() {
        if (opened_) line_.Close();
    }
    Talk(const Talk&) = delete;
    Talk& operator=(const Talk&) = delete;

    bool Opened() const { return opened_; }
    void Wait(int ms) const { wait(pause_, ms); }

    // "md mach", "fs stop": true when both ended normally, and so did the
    // quiet listened for after them. A device that did not answer them in
    // time may still be busy with something else (a log it is still sending,
    // answers it owes): then the line has to be quiet for kLateAnswer before
    // the conversation's own command, so that nothing of that becomes a line
    // of its reply.
    bool Preamble() {
        bool answered = true;
        for (const char* cmd : {"md mach\r", "fs stop\r"}) {
            ExchangeEnd end = ExchangeEnd::Silence;
            krx_cmd(line_, cmd, 2, &end, kLateAnswer);
            if (!Follow(end)) return false;
            answered = answered && end == ExchangeEnd::LineEnd;
        }
        if (!answered) Listen(kLateAnswer);
        return normal(end_);
    }

    // Follows the conversation's own command's exchange.
    void Command(ExchangeEnd end) {
        sent_ = LastExchange().sent;
        Follow(end);
    }

    // After the conversation's own reply ended by silence without proof
    // that it is all: the line has to stay quiet (kTailQuiet) before the
    // port closes. What comes then is thrown away, and the reply was cut.
    void MakeSureQuiet() {
        if (opened_ && normal(end_)) tail_ = Listen();
    }

    // How it went; `no_lines` for a reply that brought none.
    Outcome Decide(bool no_lines = false) const {
        Outcome o;
        o.answered = heard_ > 0;
        o.sent = sent_;
        if (!opened_) {
            o.kind = Ending::PortNotOpened;
            o.error = error_;
            o.advice = advice_;
            return o;
        }
        switch (end_) {
            case ExchangeEnd::Stopped:
                o.kind = Ending::Stopped;
                return o;
            case ExchangeEnd::LineLost:
            case ExchangeEnd::NotOpen:
                o.kind = Ending::LineLost;
                o.error = error_;
                return o;
            case ExchangeEnd::Overrun:
                o.kind = Ending::Cut;
                return o;
            case ExchangeEnd::WriteFailed:
                o.kind = Ending::NotSent;
                o.error = error_;
                return o;
            case ExchangeEnd::Silence:
            case ExchangeEnd::LineEnd:
                break;
        }
        if (tail_ > 0) {
            o.kind = Ending::Cut;
            o.after_end = tail_;
            return o;
        }
        o.kind = !o.answered ? Ending::DeviceSilent : no_lines ? Ending::NoLines : Ending::Done;
        return o;
    }

private:
    // Listens until the line is quiet (ListenForTail); returns the bytes heard.
    std::size_t Listen(std::chrono::milliseconds span = std::chrono::milliseconds(-1)) {
        const Tail t = ListenForTail(line_, span);
        heard_ += t.bytes;
        if (t.stopped) end_ = ExchangeEnd::Stopped;
        if (t.failed) {
            end_ = ExchangeEnd::LineLost;
            error_ = t.error;
        }
        return t.bytes;
    }

    // Adds what an exchange heard (the drained bytes too: a late answer
    // still counts); true when it ended normally.
    bool Follow(ExchangeEnd end) {
        const ExchangeStats& stats = LastExchange();
        heard_ += stats.bytes + stats.drained;
        end_ = end;
        if (!normal(end)) error_ = stats.error;
        return normal(end);
    }

    Connection& line_;
    Pause pause_;
    bool opened_ = false;
    bool sent_ = false;
    std::size_t heard_ = 0;
    std::size_t tail_ = 0;
    ExchangeEnd end_ = ExchangeEnd::Silence;
    SystemError error_;
    std::string advice_;
};

}  // namespace

std::string Outcome::Reason() const {
    std::string reason = error.text.empty() ? std::string("unknown reason") : error.text;
    return advice.empty() ? reason : reason + "\n" + advice;
}

const fatdss_t* Listing::Find(const std::string& name) const {
    for (const fatdss_t& e : logs)
        if (e.name == name) return &e;
    return nullptr;
}

Listing::AfterDelete Listing::AfterDeleting(const std::string& name) const {
    if (!Complete()) return AfterDelete::NotKnown;
    return Find(name) ? AfterDelete::StillListed : AfterDelete::Gone;
}

Listing ListLogs(Connection& line, const std::string& port, const Pause& pause) {
    Listing l;
    Talk talk(line, port, pause);
    TStringList reply;
    if (talk.Opened()) {
        talk.Wait(100);
        if (talk.Preamble()) {
            talk.Wait(100);
            talk.Command(mlt_cmd(line, "fs list\r", reply, 1));
            if (reply.Count() == 0) talk.MakeSureQuiet();
        }
    }
    l.outcome = talk.Decide(reply.Count() == 0);
    // Only logs are listed, earliest first (the codes are dates, most
    // significant letter first); what else the device said is kept apart.
    TStringList sorted;
    sorted.SetSorted(true);
    for (const std::string& line : reply.Lines()) {
        if (is_log_line(line))
            sorted.Add(line);
        else
            l.other.push_back(line);
    }
    l.log_lines = sorted.Lines();
    for (const std::string& line : l.log_lines) {
        fatdss_t e;
        xfnd(line, &e);
        e.file = file_name(e.start);
        l.logs.push_back(e);
    }
    return l;
}

long ExpectedLines(const fatdss_t& log) { return duration_known(log) ? LinesOf(log.dur) : 0; }

LogRead ReadLog(Connection& connection, const std::string& port, const fatdss_t& log, const Progress& progress,
                const Pause& pause, const std::function<void(const std::string&)>& line) {
    LogRead r;
    const long expected = ExpectedLines(log);
    bool unended = false;
    Talk talk(connection, port, pause);
    if (talk.Opened()) {
        talk.Wait(100);
        if (talk.Preamble()) {
            std::size_t bytes = 0;
            // Called before line `lines` is added: the one before it is complete.
            const auto shown = [&](int lines) {
                if (lines > 0) bytes += r.lines.Get(lines - 1).size() + 1;
                if (lines > 0 && line) line(r.lines.Get(lines - 1));
                if (progress) progress(lines, bytes);
            };
            // Without a duration to count from, every pause is waited out.
            const long patient = expected > 0 ? expected : std::numeric_limits<long>::max();
            talk.Command(slt_cmd(connection, "fs read " + log.name + "\r", r.lines, 1, shown, patient));
            unended = LastExchange().unended;
            if (line && r.lines.Count() > 0) line(r.lines.Get(r.lines.Count() - 1));
            if (r.lines.Count() < patient || unended) talk.MakeSureQuiet();
        }
    }
    Outcome& o = r.outcome;
    o = talk.Decide(r.lines.Count() == 0);
    o.lines = r.lines.Count();
    o.expected = expected;
    if (o.kind == Ending::Done && (expected == 0 || o.lines < expected))
        o.kind = Ending::Short;
    else if (o.kind == Ending::Done && unended)
        o.kind = Ending::Unended;
    return r;
}

Deletion DeleteLog(Connection& line, const std::string& port, const std::string& name, const Pause& pause) {
    Deletion d;
    Talk talk(line, port, pause);
    if (talk.Opened() && talk.Preamble()) {
        talk.Wait(500);
        ExchangeEnd end = ExchangeEnd::Silence;
        d.reply = krx_cmd(line, "fs del " + name + "\r", 1, &end, kLateAnswer);
        talk.Command(end);
    }
    d.outcome = talk.Decide();
    return d;
}

Listing ListLogs(const std::string& port, const Pause& pause) { return ListLogs(WindowConnection(), port, pause); }

LogRead ReadLog(const std::string& port, const fatdss_t& log, const Progress& progress, const Pause& pause,
                const std::function<void(const std::string&)>& line) {
    return ReadLog(WindowConnection(), port, log, progress, pause, line);
}

Deletion DeleteLog(const std::string& port, const std::string& name, const Pause& pause) {
    return DeleteLog(WindowConnection(), port, name, pause);
}

void StopConversations(bool on) { StopExchanges(on); }

std::string OpenFailureText(const std::string& port, const Outcome& o, const std::string& consequence) {
    return "The port \"" + port + "\" could not be opened:\n" + o.Reason() + "\n\n" + consequence;
}

std::string UnansweredText(const Outcome& o, const std::string& port, const std::string& what,
                           const std::string& consequence) {
    const std::string broken = BrokenText(o, what);
    if (!broken.empty()) return broken + "\n" + consequence;
    return "The device on " + port + " did not answer.\nIs it switched on and connected, and is " + port +
           " its port?\n\n" + consequence;
}

std::string BrokenText(const Outcome& o, const std::string& what) {
    switch (o.kind) {
        case Ending::NotSent:
            return "The command for the " + what + " could not be sent: the device did not accept it in time.";
        case Ending::LineLost:
            return "The connection to the device was lost during the " + what + ".";
        case Ending::Cut:
            if (o.after_end > 0)
                return "The device went on sending after a silence that was taken for the end of the " + what +
                       "; the " + what + " is incomplete.";
            return "The device's reply did not end; the " + what + " was cut at the program's limit.";
        case Ending::Done:
        case Ending::PortNotOpened:
        case Ending::Stopped:
        case Ending::DeviceSilent:
        case Ending::NoLines:
        case Ending::Short:
        case Ending::Unended:
            break;
    }
    return std::string();
}

std::string NoLogsListedText(const std::string& port, const std::vector<std::string>& other) {
    return "The device on " + port + " listed no log. It answered:\n" + Quoted(other);
}

std::string NothingListedText(const std::string& port) {
    return "The device on " + port +
           " sent no line in reply to the listing: it holds no logs, or it did not begin its listing within " +
           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kFirstByteWait).count()) + " s.";
}

std::string UnprovenText(const Outcome& o, const std::string& name) {
    if (o.kind == Ending::Unended)
        return "The last line of log " + name +
               " came without its line end, so whether the device had finished it is not known.";
    if (o.expected == 0)
        return "The listing gives log " + name + " no duration, so whether all of its " + std::to_string(o.lines) +
               " lines came is not known.";
    return "Only " + std::to_string(o.lines) + " of about " + std::to_string(o.expected) + " lines of log " + name +
           " came: the device fell silent before the end its duration leads to expect.";
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
