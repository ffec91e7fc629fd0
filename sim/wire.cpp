#include "wire.h"

namespace krx3sim {
namespace wire {
namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string Text(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "x";
    out.reserve(1 + 2 * bytes.size());
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    return out;
}

bool Text(std::istream& in, std::string* bytes) {
    std::string word;
    if (!(in >> word) || word.empty() || word[0] != 'x' || word.size() % 2 == 0) return false;
    bytes->clear();
    bytes->reserve(word.size() / 2);
    for (std::size_t i = 1; i < word.size(); i += 2) {
        const int hi = nibble(word[i]), lo = nibble(word[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes->push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

std::string Logs(const std::vector<Log>& logs) {
    std::string out = std::to_string(logs.size());
    for (const Log& log : logs) {
        out += ' ' + Text(log.start_code) + ' ' + Text(log.stop_code) + ' ' + std::to_string(log.lines.size());
        for (const std::string& line : log.lines) out += ' ' + Text(line);
    }
    return out;
}

bool Logs(std::istream& in, std::vector<Log>* logs) {
    std::size_t count = 0;
    if (!(in >> count)) return false;
    logs->clear();
    for (std::size_t i = 0; i < count; ++i) {
        Log log;
        std::size_t lines = 0;
        if (!Text(in, &log.start_code) || !Text(in, &log.stop_code) || !(in >> lines)) return false;
        for (std::size_t k = 0; k < lines; ++k) {
            std::string line;
            if (!Text(in, &line)) return false;
            log.lines.push_back(std::move(line));
        }
        logs->push_back(std::move(log));
    }
    return true;
}

std::string Behaviours(const Behaviour& b) {
    std::ostringstream out;
    out << b.delay_before_reply.count() << ' ' << b.pause_every_lines << ' ' << b.pause.count() << ' '
        << (b.paced ? 1 : 0) << ' ' << Text(b.line_end) << ' ' << (b.silent ? 1 : 0) << ' ' << (b.endless_reply ? 1 : 0)
        << ' ' << b.close_after_bytes << ' ' << b.list_delay.count() << ' ' << b.read_delay.count() << ' '
        << b.extra_list_lines.size();
    for (const std::string& l : b.extra_list_lines) out << ' ' << Text(l);
    out << ' ' << Text(b.del_reply) << ' ' << (b.keep_on_delete ? 1 : 0) << ' ' << b.pause_before_line << ' '
        << b.line_pause.count() << ' ' << (b.last_line_unended ? 1 : 0) << ' ' << b.answer_commands;
    return out.str();
}

bool Behaviours(std::istream& in, Behaviour* b) {
    long long delay = 0, pause = 0;
    int paced = 0, silent = 0, endless = 0;
    Behaviour r;
    if (!(in >> delay) || !(in >> r.pause_every_lines) || !(in >> pause) || !(in >> paced) || !Text(in, &r.line_end) ||
        !(in >> silent) || !(in >> endless) || !(in >> r.close_after_bytes)) {
        return false;
    }
    long long list_delay = 0, read_delay = 0;
    std::size_t extra = 0;
    int keep = 0;
    if (!(in >> list_delay) || !(in >> read_delay) || !(in >> extra) || extra > 100000) return false;
    r.extra_list_lines.resize(extra);
    for (std::string& l : r.extra_list_lines)
        if (!Text(in, &l)) return false;
    long long line_pause = 0;
    int unended = 0;
    if (!Text(in, &r.del_reply) || !(in >> keep) || !(in >> r.pause_before_line) || !(in >> line_pause) ||
        !(in >> unended) || !(in >> r.answer_commands))
        return false;
    r.line_pause = std::chrono::milliseconds(line_pause);
    r.last_line_unended = unended != 0;
    r.list_delay = std::chrono::milliseconds(list_delay);
    r.read_delay = std::chrono::milliseconds(read_delay);
    r.keep_on_delete = keep != 0;
    r.delay_before_reply = std::chrono::milliseconds(delay);
    r.pause = std::chrono::milliseconds(pause);
    r.paced = paced != 0;
    r.silent = silent != 0;
    r.endless_reply = endless != 0;
    *b = r;
    return true;
}

std::string Commands(const std::vector<AgedCommand>& commands) {
    std::string out = std::to_string(commands.size());
    for (const AgedCommand& c : commands) out += ' ' + Text(c.text) + ' ' + std::to_string(c.age_us);
    return out;
}

bool Commands(std::istream& in, std::vector<AgedCommand>* commands) {
    std::size_t count = 0;
    if (!(in >> count)) return false;
    commands->clear();
    for (std::size_t i = 0; i < count; ++i) {
        AgedCommand c;
        if (!Text(in, &c.text) || !(in >> c.age_us)) return false;
        commands->push_back(std::move(c));
    }
    return true;
}

}  // namespace wire
}  // namespace krx3sim
