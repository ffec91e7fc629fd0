// The simulator for Windows programs: a proxy for a simulated device that
// krx3-sim's control server runs on the Linux side of Wine (see control.h).
// The device's pseudo-terminal is linked into the Wine prefix as a COM
// port, and PortPath() names that port.
//
// The server's address comes from the environment variable
// KRX3_SIM_CONTROL ("127.0.0.1:PORT"), which scripts/run-windows-tests.sh
// sets.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "simulator.h"
#include "wire.h"

namespace krx3sim {
namespace {

using Clock = std::chrono::steady_clock;

void start_winsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    });
}

SOCKET connect_to(const std::string& address) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos) throw std::runtime_error("KRX3_SIM_CONTROL is not HOST:PORT: " + address);
    const std::string host = address.substr(0, colon), port = address.substr(colon + 1);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
        throw std::runtime_error("cannot resolve the simulator's address " + address);
    SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    const bool ok = s != INVALID_SOCKET && connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
    freeaddrinfo(found);
    if (!ok) {
        if (s != INVALID_SOCKET) closesocket(s);
        throw std::runtime_error("cannot reach the simulator at " + address + " (is krx3-sim --control running?)");
    }
    // Requests are small and each waits for its answer.
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    // The server answers every request within a minute (its longest wait):
    // a server that stopped answering fails the test instead of hanging it.
    DWORD ms = 90000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    return s;
}

}  // namespace

struct Simulator::Impl {
    SOCKET s = INVALID_SOCKET;
    std::string port;
    std::string buffer;
    mutable std::mutex mu;

    // Sends one request and returns its answer after "ok"; throws on an
    // error answer or a broken connection.
    std::string Ask(const std::string& request) {
        std::lock_guard<std::mutex> lock(mu);
        const std::string line = request + "\n";
        std::size_t done = 0;
        while (done < line.size()) {
            const int chunk = static_cast<int>(std::min<std::size_t>(line.size() - done, 1 << 20));
            const int n = send(s, line.data() + done, chunk, 0);
            if (n <= 0) throw std::runtime_error("the simulator's connection broke");
            done += static_cast<std::size_t>(n);
        }
        for (;;) {
            const std::size_t end = buffer.find('\n');
            if (end != std::string::npos) {
                std::string answer = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                if (answer == "ok") return std::string();
                if (answer.rfind("ok ", 0) == 0) return answer.substr(3);
                throw std::runtime_error("simulator: " + answer);
            }
            char chunk[65536];
            const int n = recv(s, chunk, sizeof chunk, 0);
            if (n <= 0) throw std::runtime_error("the simulator did not answer " + request.substr(0, 16));
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
};

Simulator::Simulator(std::vector<Log> logs) : impl_(new Impl) {
    const char* address = std::getenv("KRX3_SIM_CONTROL");
    if (!address || !*address)
        throw std::runtime_error("KRX3_SIM_CONTROL is not set: run the tests through scripts/run-windows-tests.sh");
    start_winsock();
    impl_->s = connect_to(address);
    try {
        std::istringstream in(impl_->Ask("new " + wire::Logs(logs)));
        std::string pty;
        if (!(in >> pty >> impl_->port) || impl_->port == "-")
            throw std::runtime_error("the simulator links no COM port (krx3-sim needs --com-links)");
    } catch (...) {
        closesocket(impl_->s);
        throw;
    }
}

Simulator::~Simulator() {
    // Closing the connection ends the device and removes its port.
    closesocket(impl_->s);
}

const std::string& Simulator::PortPath() const { return impl_->port; }

void Simulator::SetBehaviour(const Behaviour& b) { impl_->Ask("behave " + wire::Behaviours(b)); }

Behaviour Simulator::GetBehaviour() const {
    std::istringstream in(impl_->Ask("behaviour"));
    Behaviour b;
    if (!wire::Behaviours(in, &b)) throw std::runtime_error("simulator: bad behaviour");
    return b;
}

void Simulator::SetLogs(std::vector<Log> logs) { impl_->Ask("setlogs " + wire::Logs(logs)); }

std::vector<Log> Simulator::Logs() const {
    std::istringstream in(impl_->Ask("logs"));
    std::vector<Log> logs;
    if (!wire::Logs(in, &logs)) throw std::runtime_error("simulator: bad logs");
    return logs;
}

std::vector<Command> Simulator::Commands() const {
    std::istringstream in(impl_->Ask("commands"));
    const auto now = Clock::now();
    std::vector<wire::AgedCommand> aged;
    if (!wire::Commands(in, &aged)) throw std::runtime_error("simulator: bad commands");
    // Arrival times on this process's clock: the answer's transit makes
    // them late by well under a millisecond.
    std::vector<Command> commands;
    for (const auto& c : aged) commands.push_back(Command{c.text, now - std::chrono::microseconds(c.age_us)});
    return commands;
}

void Simulator::ClearCommands() { impl_->Ask("clear"); }

bool Simulator::WaitForCommands(std::size_t n, std::chrono::milliseconds bound) const {
    return impl_->Ask("wait " + std::to_string(n) + " " + std::to_string(bound.count())) == "1";
}

void Simulator::HangUp() { impl_->Ask("hangup"); }

}  // namespace krx3sim
