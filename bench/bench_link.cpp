// Upload throughput through slt_cmd from the simulated device.
//
// (1) unpaced: as fast as the pseudo-terminal carries it (target: at least
//     1 MB/s), with the CPU time it costs;
// (2) paced at the line rate of 115200 baud, 10 bits a byte, 11,520 bytes/s
//     (target: at least 99% of it).
// The rate is taken from the first line to the last one, so the drain before
// the command and the closing silence (not transfer) are left out; the whole
// exchange's time is printed beside it, and so is the time from the last
// byte to the recognised end of the reply (target: within 0.35 s for a log of
// the length its duration leads the upload to expect, as a sample log is).
// (3) a short log (the device falls silent after half of its lines): the
//     time from its last byte until the read returns it as Short, after the
//     patience and the quiet that follows it (target: within 3.5 s).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <time.h>

#include "link/exchange.h"
#include "link/serial.h"
#include "session/session.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double process_cpu() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double thread_cpu() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Result {
    bool ok = false;
    std::size_t bytes = 0;
    std::size_t lines = 0;
    double whole_s = 0;         // the whole exchange
    double transfer_s = 0;      // first line to last line
    double transfer_bytes = 0;  // bytes of the lines after the first
    double cpu_process_s = 0;
    double cpu_reader_s = 0;
    double first_byte_s = 0;  // command written to first line
    double end_s = 0;         // last byte to the recognised end of the reply
};

Result upload(int lines, bool paced) {
    Result r;
    krx3sim::Simulator sim(krx3sim::SampleLogs(1, lines));
    krx3sim::Behaviour b;
    b.paced = paced;
    sim.SetBehaviour(b);
    const krx3sim::Log log = sim.Logs().front();
    for (const auto& l : log.lines) r.bytes += l.size() + 1;
    if (!OpenCom(sim.PortPath())) {
        std::printf("cannot open %s: %s\n", sim.PortPath().c_str(), OpenComError().text.c_str());
        return r;
    }

    TStringList list;
    Clock::time_point first{}, last{};
    const auto progress = [&](int pos) {
        const auto now = Clock::now();
        if (pos == 0) first = now;
        last = now;
    };
    const double cpu0 = process_cpu(), tcpu0 = thread_cpu();
    const auto t0 = Clock::now();
    // A sample log has a line every 2 s from its start to its stop, one at
    // each end: as many as an upload expects.
    fatdss_t entry;
    xfnd(log.start_code + " " + log.stop_code, &entry);
    const long expected = ExpectedLines(entry);
    const ExchangeEnd end = slt_cmd("fs read " + log.start_code + "\r", list, 1, progress, expected);
    const auto t1 = Clock::now();
    const ExchangeStats stats = LastExchange();
    r.end_s = seconds(stats.ended - stats.last_byte);
    r.first_byte_s = seconds(first - stats.written);
    r.cpu_process_s = process_cpu() - cpu0;
    r.cpu_reader_s = thread_cpu() - tcpu0;
    CloseCom();

    r.lines = static_cast<std::size_t>(list.Count());
    r.ok = end == ExchangeEnd::Silence && list.Lines() == log.lines;
    r.whole_s = seconds(t1 - t0);
    r.transfer_s = seconds(last - first);
    r.transfer_bytes = static_cast<double>(r.bytes - (log.lines.front().size() + 1));
    return r;
}

// A read of a log whose device stops after half of its lines: seconds from
// its last byte until ReadLog returned, and whether it was told as Short.
std::pair<double, bool> shortRead(int lines) {
    krx3sim::Log log = krx3sim::SampleLogs(1, lines).front();
    fatdss_t entry;
    xfnd(log.start_code + " " + log.stop_code, &entry);
    log.lines.resize(static_cast<std::size_t>(lines / 2));
    krx3sim::Simulator sim({log});
    const LogRead r = ReadLog(sim.PortPath(), entry, {});
    const auto returned = Clock::now();
    return {seconds(returned - LastExchange().last_byte), r.outcome.kind == Ending::Short};
}

void report(const char* title, const Result& r) {
    std::printf("%s\n", title);
    std::printf("  log: %zu bytes in %zu lines, received %s\n", r.bytes, r.lines,
                r.ok ? "whole and unchanged" : "INCOMPLETE OR CHANGED");
    std::printf("  first line to last line: %.3f s, %.0f bytes/s\n", r.transfer_s, r.transfer_bytes / r.transfer_s);
    std::printf("  whole exchange (drain, command, closing silence): %.3f s, %.0f bytes/s\n", r.whole_s,
                static_cast<double>(r.bytes) / r.whole_s);
    std::printf("  command to first line: %.3f s; last byte to the end of the reply: %.3f s\n", r.first_byte_s,
                r.end_s);
    std::printf("  CPU: reading thread %.3f s, whole process (simulator included) %.3f s\n", r.cpu_reader_s,
                r.cpu_process_s);
}

}  // namespace

int main() {
    // About 50 bytes a record: 180,000 records make some 9 MB.
    const Result fast = upload(180000, false);
    report("Unpaced upload (target >= 1,000,000 bytes/s)", fast);
    const double fast_rate = fast.transfer_bytes / fast.transfer_s;
    std::printf("  => %s\n\n", fast.ok && fast_rate >= 1e6 ? "target met" : "TARGET MISSED");

    const Result slow = upload(4200, true);
    report("Paced upload at 115200 baud (line rate 11,520 bytes/s; target >= 99%)", slow);
    const double share = slow.transfer_bytes / slow.transfer_s / 11520.0 * 100.0;
    std::printf("  share of the line rate: %.2f%%\n", share);
    std::printf("  => %s\n\n", slow.ok && share >= 99.0 ? "target met" : "TARGET MISSED");

    const double end = std::max(fast.end_s, slow.end_s);
    std::printf("End of a reply of the expected length (target: within 0.35 s of its last byte)\n");
    std::printf("  unpaced %.3f s, paced %.3f s\n", fast.end_s, slow.end_s);
    std::printf("  => %s\n\n", end <= 0.35 ? "target met" : "TARGET MISSED");

    const auto [short_end, told] = shortRead(400);
    std::printf("A short log, 200 of 400 lines (target: told as short within 3.5 s of its last byte)\n");
    std::printf("  last byte to the end of the read: %.3f s, told as %s\n", short_end,
                told ? "short" : "SOMETHING ELSE");
    std::printf("  => %s\n", told && short_end <= 3.5 ? "target met" : "TARGET MISSED");
    return fast.ok && slow.ok && told ? 0 : 1;
}
