// A KRX3 played on a pseudo-terminal (see simulator.h).
//
// One device thread owns the master side: it gathers commands, records them
// the moment their carriage return is read (also while a reply is still
// going out, so the tool's pauses show in the record), and writes the
// replies. Every wait of that thread is short or interruptible, so the
// destructor and HangUp() never wait on a tool that stopped reading.
#include "simulator.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace krx3sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr double kLineRate = 11520.0;    // 115200 baud, 10 bits a byte
constexpr std::size_t kPacedChunk = 32;  // about 2.8 ms of line time
constexpr std::size_t kWriteChunk = 64 * 1024;

}  // namespace

struct Simulator::Impl {
    int master = -1;
    int slave = -1;  // held so the line stays up between the tool's opens
    std::string path;

    mutable std::mutex mu;
    mutable std::condition_variable cv;  // commands, hang-up, shutdown
    Behaviour behaviour;
    std::vector<Log> logs;
    std::vector<Command> commands;
    bool hung = false;

    std::atomic<bool> quit{false};
    std::atomic<bool> hangup_requested{false};
    std::thread device;

    // Device thread only.
    std::string pending;
    std::deque<std::string> queue;

    bool stopping() const { return quit.load() || hangup_requested.load(); }

    // Waits until `t` unless the device is being stopped; false then.
    bool wait_until(Clock::time_point t) {
        std::unique_lock<std::mutex> lock(mu);
        return !cv.wait_until(lock, t, [this] { return stopping(); });
    }

    void pump_input() {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                const char c = buf[i];
                if (c == '\n') continue;
                if (c != '\r') {
                    pending.push_back(c);
                    continue;
                }
                {
                    std::lock_guard<std::mutex> lock(mu);
                    commands.push_back(Command{pending, Clock::now()});
                }
                cv.notify_all();
                queue.push_back(pending);
                pending.clear();
            }
        }
    }

    void hang_up_now() {
        ::close(master);
        ::close(slave);
        master = slave = -1;
        {
            std::lock_guard<std::mutex> lock(mu);
            hung = true;
        }
        cv.notify_all();
    }

    // Waits (bounded) until the tool has taken every byte sent so far, so a
    // hang-up in the middle of a reply cuts it at a known place.
    void wait_taken() {
        const auto until = Clock::now() + milliseconds(2000);
        int quiet = 0;
        while (quiet < 3 && Clock::now() < until && !quit.load()) {
            int unread = 0;
            if (::ioctl(slave, FIONREAD, &unread) != 0) return;
            quiet = unread == 0 ? quiet + 1 : 0;
            std::this_thread::sleep_for(milliseconds(2));
        }
        std::this_thread::sleep_for(milliseconds(5));
    }

    struct Reply {
        Behaviour b;
        bool abort_on_command = false;
        long sent = 0;
        long lines = 0;
        Clock::time_point pace_start = Clock::now();
        long paced = 0;
        bool hung_up = false;
    };

    // Writes `data`; false when the reply has to end (shutdown, hang-up, a
    // new command cutting an endless reply).
    bool write_all(Reply& r, const char* data, std::size_t size) {
        std::size_t off = 0;
        while (off < size) {
            if (stopping()) return false;
            if (r.abort_on_command && !queue.empty()) return false;
            std::size_t chunk = std::min(size - off, r.b.paced ? kPacedChunk : kWriteChunk);
            if (r.b.close_after_bytes >= 0)
                chunk = std::min(chunk, static_cast<std::size_t>(r.b.close_after_bytes - r.sent));
            if (chunk == 0) {
                wait_taken();
                hang_up_now();
                r.hung_up = true;
                return false;
            }
            if (r.b.paced) {
                const auto due = r.pace_start + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(r.paced / kLineRate));
                if (due > Clock::now() && !wait_until(due)) return false;
            }
            pollfd pfd{master, POLLOUT | POLLIN, 0};
            const int rc = ::poll(&pfd, 1, 5);
            if (rc < 0 && errno != EINTR) return false;
            if (rc <= 0) continue;
            if (pfd.revents & POLLIN) pump_input();
            if (!(pfd.revents & POLLOUT)) continue;
            const ssize_t n = ::write(master, data + off, chunk);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
                return false;
            }
            off += static_cast<std::size_t>(n);
            r.sent += n;
            r.paced += n;
        }
        if (r.b.close_after_bytes >= 0 && r.sent >= r.b.close_after_bytes) {
            wait_taken();
            hang_up_now();
            r.hung_up = true;
            return false;
        }
        return true;
    }

    bool send_line(Reply& r, const std::string& line, bool unended = false) {
        std::string bytes = line;
        if (!unended) bytes += r.b.line_end;
        if (!write_all(r, bytes.data(), bytes.size())) return false;
        ++r.lines;
        if (r.b.pause_every_lines > 0 && r.lines % r.b.pause_every_lines == 0 && r.b.pause.count() > 0) {
            if (!wait_until(Clock::now() + r.b.pause)) return false;
            r.pace_start = Clock::now();
            r.paced = 0;
        }
        return true;
    }

    void answer(const std::string& cmd) {
        Reply r;
        std::vector<std::string> lines;
        bool endless = false, log = false;
        milliseconds delay{0};
        {
            std::lock_guard<std::mutex> lock(mu);
            r.b = behaviour;
            if (r.b.silent || (r.b.answer_commands >= 0 && static_cast<long>(commands.size()) > r.b.answer_commands))
                return;
            delay = r.b.delay_before_reply;
            if (cmd == "md mach" || cmd == "fs stop") {
                lines.push_back("ok");
            } else if (cmd == "fs list") {
                lines = r.b.extra_list_lines;
                for (const Log& l : logs) lines.push_back(l.start_code + " " + l.stop_code);
                delay += r.b.list_delay;
            } else if (cmd.compare(0, 8, "fs read ") == 0) {
                const std::string name = cmd.substr(8);
                for (const Log& l : logs)
                    if (l.start_code == name) lines = l.lines;
                endless = r.b.endless_reply;
                log = true;
                delay += r.b.read_delay;
            } else if (cmd.compare(0, 7, "fs del ") == 0) {
                const std::string name = cmd.substr(7);
                if (!r.b.keep_on_delete)
                    logs.erase(std::remove_if(logs.begin(), logs.end(),
                                              [&name](const Log& l) { return l.start_code == name; }),
                               logs.end());
                if (!r.b.del_reply.empty()) lines.push_back(r.b.del_reply);
            } else {
                lines.push_back("?");
            }
        }
        if (delay.count() > 0 && !wait_until(Clock::now() + delay)) return;
        r.pace_start = Clock::now();

        if (!endless) {
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (log && static_cast<long>(i) == r.b.pause_before_line && r.b.line_pause.count() > 0) {
                    if (!wait_until(Clock::now() + r.b.line_pause)) break;
                    r.pace_start = Clock::now();
                    r.paced = 0;
                }
                if (!send_line(r, lines[i], log && r.b.last_line_unended && i + 1 == lines.size())) break;
            }
        } else {
            // Round and round the log (or made-up records) until a new
            // command, a hang-up or the end of the simulator.
            r.abort_on_command = true;
            for (long long k = 0;; ++k) {
                const std::string line =
                    lines.empty() ? SampleRecord(k) : lines[static_cast<std::size_t>(k) % lines.size()];
                if (!send_line(r, line)) break;
            }
        }
    }

    void run() {
        while (!quit.load()) {
            if (hangup_requested.load()) {
                hang_up_now();
                return;
            }
            pollfd pfd{master, POLLIN, 0};
            const int rc = ::poll(&pfd, 1, 10);
            if (rc > 0 && (pfd.revents & POLLIN)) pump_input();
            while (!queue.empty() && !stopping()) {
                const std::string cmd = queue.front();
                queue.pop_front();
                answer(cmd);
                if (master < 0) return;
            }
        }
    }
};

Simulator::Simulator(std::vector<Log> logs) : impl_(new Impl) {
    Impl& s = *impl_;
    s.logs = std::move(logs);
    s.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (s.master < 0) throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
    auto fail = [&s](const char* what) {
        const int err = errno;
        if (s.slave >= 0) ::close(s.slave);
        ::close(s.master);
        throw std::runtime_error(std::string(what) + ": " + std::strerror(err));
    };
    if (::grantpt(s.master) != 0) fail("grantpt");
    if (::unlockpt(s.master) != 0) fail("unlockpt");
    {
        // ptsname() shares one buffer among all callers.
        static std::mutex name_mutex;
        std::lock_guard<std::mutex> lock(name_mutex);
        const char* name = ::ptsname(s.master);
        if (!name) fail("ptsname");
        s.path = name;
    }
    ::fcntl(s.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(s.master, F_SETFL, ::fcntl(s.master, F_GETFL) | O_NONBLOCK);
    s.slave = ::open(s.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s.slave < 0) fail("open slave");
    // Raw at once: no echo of the replies back to the device side and no
    // line-end translation before the tool has configured its side.
    termios tio;
    if (::tcgetattr(s.slave, &tio) != 0) fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(s.slave, TCSANOW, &tio) != 0) fail("tcsetattr");
    s.device = std::thread([&s] { s.run(); });
}

Simulator::~Simulator() {
    impl_->quit.store(true);
    { std::lock_guard<std::mutex> lock(impl_->mu); }
    impl_->cv.notify_all();
    impl_->device.join();
    if (impl_->master >= 0) ::close(impl_->master);
    if (impl_->slave >= 0) ::close(impl_->slave);
}

const std::string& Simulator::PortPath() const { return impl_->path; }

void Simulator::SetBehaviour(const Behaviour& b) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->behaviour = b;
}

Behaviour Simulator::GetBehaviour() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->behaviour;
}

void Simulator::SetLogs(std::vector<Log> logs) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->logs = std::move(logs);
}

std::vector<Log> Simulator::Logs() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->logs;
}

std::vector<Command> Simulator::Commands() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->commands;
}

void Simulator::ClearCommands() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->commands.clear();
}

bool Simulator::WaitForCommands(std::size_t n, std::chrono::milliseconds bound) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, bound, [this, n] { return impl_->commands.size() >= n; });
}

void Simulator::HangUp() {
    std::unique_lock<std::mutex> lock(impl_->mu);
    impl_->hangup_requested.store(true);
    impl_->cv.notify_all();
    impl_->cv.wait_for(lock, std::chrono::seconds(5), [this] { return impl_->hung; });
}

}  // namespace krx3sim
