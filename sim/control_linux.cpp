// The control server over POSIX sockets (see control.h and wire.h).
#include "control.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <list>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "simulator.h"
#include "wire.h"

namespace krx3sim {
namespace {

using Clock = std::chrono::steady_clock;

// Well below the names the tests use for a port that does not exist.
constexpr int kLastCom = 200;
// A "wait" request is answered within this, whatever bound it asks for.
constexpr std::chrono::milliseconds kLongestWait{60000};
// How often a waiting connection looks at the quit flag.
constexpr std::chrono::milliseconds kQuitSlice{100};

// The Windows port names handed out. A name is taken while its link exists,
// whoever made it, so the folder itself says which names are free.
class ComLinks {
public:
    ComLinks(std::string folder, int first) : folder_(std::move(folder)), first_(first) {}

    bool Enabled() const { return !folder_.empty(); }

    // Links the first free comN to `target`; returns N, or 0 when no name is
    // free or the folder refuses the link.
    int Link(const std::string& target) const {
        for (int n = first_; n <= kLastCom; ++n) {
            // symlink() never replaces a name, and makes one atomically.
            if (::symlink(target.c_str(), Path(n).c_str()) == 0) return n;
            if (errno != EEXIST) return 0;
        }
        return 0;
    }

    void Unlink(int n) const {
        if (n > 0) ::unlink(Path(n).c_str());
    }

private:
    std::string Path(int n) const { return folder_ + "/com" + std::to_string(n); }

    const std::string folder_;
    const int first_;
};

bool send_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads one '\n'-ended line into *line; false at the end of the connection.
bool read_line(int fd, std::string* buffer, std::string* line) {
    for (;;) {
        const std::size_t end = buffer->find('\n');
        if (end != std::string::npos) {
            line->assign(*buffer, 0, end);
            buffer->erase(0, end + 1);
            return true;
        }
        char chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer->append(chunk, static_cast<std::size_t>(n));
    }
}

std::string answer(Simulator& sim, const std::string& verb, std::istream& in, const std::atomic<bool>& quit) {
    if (verb == "behave") {
        Behaviour b;
        if (!wire::Behaviours(in, &b)) return "error bad behaviour";
        sim.SetBehaviour(b);
        return "ok";
    }
    if (verb == "behaviour") return "ok " + wire::Behaviours(sim.GetBehaviour());
    if (verb == "setlogs") {
        std::vector<Log> logs;
        if (!wire::Logs(in, &logs)) return "error bad logs";
        sim.SetLogs(std::move(logs));
        return "ok";
    }
    if (verb == "logs") return "ok " + wire::Logs(sim.Logs());
    if (verb == "commands") {
        const auto now = Clock::now();
        std::vector<wire::AgedCommand> aged;
        for (const Command& c : sim.Commands())
            aged.push_back({c.text, std::chrono::duration_cast<std::chrono::microseconds>(now - c.arrived).count()});
        return "ok " + wire::Commands(aged);
    }
    if (verb == "clear") {
        sim.ClearCommands();
        return "ok";
    }
    if (verb == "wait") {
        std::size_t n = 0;
        long long ms = 0;
        if (!(in >> n >> ms) || ms < 0) return "error bad wait";
        // In slices, so that the server can end meanwhile.
        auto left = std::min(std::chrono::milliseconds(ms), kLongestWait);
        for (;;) {
            const auto slice = std::min(left, kQuitSlice);
            if (sim.WaitForCommands(n, slice)) return "ok 1";
            left -= slice;
            if (left.count() <= 0 || quit.load()) return "ok 0";
        }
    }
    if (verb == "hangup") {
        sim.HangUp();
        return "ok";
    }
    return "error unknown request " + verb;
}

// Serves one connection; the listener closes `fd` after joining.
void serve(int fd, const ComLinks* links, const std::atomic<bool>* quit, std::atomic<bool>* done) {
    std::string buffer, line;
    std::unique_ptr<Simulator> sim;
    int com = 0;
    while (read_line(fd, &buffer, &line)) {
        std::istringstream in(line);
        std::string verb, reply;
        in >> verb;
        try {
            std::vector<Log> logs;
            if (verb == "new" && sim) {
                reply = "error this connection has its simulator already";
            } else if (verb == "new" && !wire::Logs(in, &logs)) {
                reply = "error bad logs";
            } else if (verb == "new") {
                sim = std::make_unique<Simulator>(std::move(logs));
                if (links->Enabled() && (com = links->Link(sim->PortPath())) == 0) {
                    sim.reset();
                    reply = "error no COM port name left to link";
                } else {
                    reply = "ok " + sim->PortPath() + " " + (com > 0 ? "COM" + std::to_string(com) : "-");
                }
            } else if (!sim) {
                reply = "error no simulator: send new first";
            } else {
                reply = answer(*sim, verb, in, *quit);
            }
        } catch (const std::exception& e) {
            reply = std::string("error ") + e.what();
        }
        if (!send_all(fd, reply + "\n")) break;
    }
    links->Unlink(com);
    sim.reset();
    done->store(true);
}

}  // namespace

int RunControlServer(const ControlOptions& options, const std::atomic<bool>& quit) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t size = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 16) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        std::fprintf(stderr, "krx3-sim: cannot listen on the loopback interface: %s\n", std::strerror(errno));
        if (listener >= 0) ::close(listener);
        return 1;
    }
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    if (!options.address_file.empty()) {
        // Written whole, then renamed, so that a reader never sees half of it.
        const std::string part = options.address_file + ".part";
        std::ofstream(part) << address << "\n";
        if (std::rename(part.c_str(), options.address_file.c_str()) != 0) {
            std::fprintf(stderr, "krx3-sim: cannot write %s\n", options.address_file.c_str());
            ::close(listener);
            return 1;
        }
    }
    std::printf("KRX3 simulator control on %s\n", address.c_str());
    std::fflush(stdout);

    ComLinks links(options.com_links, options.first_com);
    struct Connection {
        int fd;
        std::atomic<bool> done{false};
        std::thread thread;
    };
    std::list<Connection> connections;
    const auto reap = [&connections](bool all) {
        for (auto it = connections.begin(); it != connections.end();) {
            if (!all && !it->done.load()) {
                ++it;
                continue;
            }
            it->thread.join();
            ::close(it->fd);
            it = connections.erase(it);
        }
    };
    while (!quit.load()) {
        reap(false);
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        Connection& c = connections.emplace_back();
        c.fd = fd;
        c.thread = std::thread(serve, fd, &links, &quit, &c.done);
    }
    ::close(listener);
    // Ending the connections' reads ends their simulators.
    for (Connection& c : connections) ::shutdown(c.fd, SHUT_RDWR);
    reap(true);
    return 0;
}

}  // namespace krx3sim
