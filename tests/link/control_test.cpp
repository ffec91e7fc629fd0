// krx3-sim's control server, driven as the Windows proxy drives it: a
// simulator per connection, its port linked as comN, and an end that does
// not wait for a client's long request.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "control.h"
#include "link_fixture.h"
#include "wire.h"

namespace fs = std::filesystem;

namespace {

// One connection, one request line and one answer line at a time.
class Client {
public:
    explicit Client(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Client() { Close(); }
    bool Connected() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // The answer, or "" when the connection ended first.
    std::string Ask(const std::string& request) {
        const std::string line = request + "\n";
        if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) return "";
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string answer = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return answer;
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return "";
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
    std::string buffer_;
};

class ControlServer : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("krx3ctl_" + std::to_string(std::random_device()()));
        ASSERT_TRUE(fs::create_directories(dir_ / "dosdevices"));
        // Wine's own link for a real port: never to be touched.
        fs::create_symlink("/dev/ttyS0", dir_ / "dosdevices" / "com5");
        krx3sim::ControlOptions options;
        options.address_file = (dir_ / "address").string();
        options.com_links = (dir_ / "dosdevices").string();
        server_ = std::thread([this, options] { result_ = krx3sim::RunControlServer(options, quit_); });
        const auto until = Clock::now() + milliseconds(5000);
        while (!fs::exists(options.address_file) && Clock::now() < until) std::this_thread::yield();
        std::ifstream in(options.address_file);
        std::string address;
        ASSERT_TRUE(std::getline(in, address)) << "the server did not start";
        ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;
        port_ = std::stoi(address.substr(10));
    }

    void TearDown() override {
        quit_.store(true);
        if (server_.joinable()) server_.join();
        EXPECT_EQ(result_, 0);
        fs::remove_all(dir_);
    }

    fs::path Link(int n) const { return dir_ / "dosdevices" / ("com" + std::to_string(n)); }

    fs::path dir_;
    std::atomic<bool> quit_{false};
    std::atomic<int> result_{-1};
    std::thread server_;
    int port_ = 0;
};

TEST_F(ControlServer, EachConnectionGetsADeviceLinkedAsAFreeComPort) {
    Client a(port_), b(port_);
    ASSERT_TRUE(a.Connected() && b.Connected());
    std::istringstream first(a.Ask("new " + krx3sim::wire::Logs(krx3sim::SampleLogs(2, 3))));
    std::string ok, pty, com;
    first >> ok >> pty >> com;
    ASSERT_EQ(ok, "ok");
    EXPECT_EQ(com, "COM6");
    EXPECT_EQ(fs::read_symlink(Link(6)), pty);
    EXPECT_EQ(fs::read_symlink(Link(5)), "/dev/ttyS0");
    std::istringstream second(b.Ask("new 0"));
    std::string pty_b, com_b;
    second >> ok >> pty_b >> com_b;
    EXPECT_EQ(com_b, "COM7");
    EXPECT_NE(pty_b, pty);

    // The linked port is the device: a command through it is recorded.
    ASSERT_NE(OpenCom(pty), 0) << OpenComError();
    EXPECT_EQ(krx_cmd("md mach\r", 2), "ok");
    CloseCom();
    EXPECT_EQ(a.Ask("wait 1 2000"), "ok 1");
    std::istringstream commands(a.Ask("commands").substr(3));
    std::vector<krx3sim::wire::AgedCommand> seen;
    ASSERT_TRUE(krx3sim::wire::Commands(commands, &seen));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "md mach");
    EXPECT_GE(seen[0].age_us, 0);
    EXPECT_EQ(b.Ask("wait 1 50"), "ok 0");

    // A closed connection ends its device and frees its name for the next.
    a.Close();
    const auto until = Clock::now() + milliseconds(5000);
    while (fs::is_symlink(Link(6)) && Clock::now() < until) std::this_thread::yield();
    EXPECT_FALSE(fs::is_symlink(Link(6)));
    EXPECT_TRUE(fs::is_symlink(Link(7)));
    Client c(port_);
    EXPECT_EQ(c.Ask("new 0").substr(0, 3), "ok ");
    EXPECT_TRUE(fs::is_symlink(Link(6)));
}

TEST_F(ControlServer, RefusesRequestsItCannotServe) {
    Client a(port_);
    EXPECT_EQ(a.Ask("behaviour").rfind("error ", 0), 0u);
    EXPECT_EQ(a.Ask("new 2 x41").rfind("error ", 0), 0u);
    ASSERT_EQ(a.Ask("new 0").substr(0, 3), "ok ");
    for (const char* bad : {"new 0", "behave 1 2", "setlogs x", "wait 1", "wait 1 -5", "dance"})
        EXPECT_EQ(a.Ask(bad).rfind("error ", 0), 0u) << bad;
    // The connection goes on after refusals.
    const std::vector<krx3sim::Log> logs = {{"AAAAAAA", "BBBBBBB", {"one", ""}}};
    EXPECT_EQ(a.Ask("setlogs " + krx3sim::wire::Logs(logs)), "ok");
    EXPECT_EQ(a.Ask("logs"), "ok " + krx3sim::wire::Logs(logs));
}

TEST_F(ControlServer, EndsSoonWhileAClientWaitsLong) {
    Client a(port_);
    ASSERT_EQ(a.Ask("new 0").substr(0, 3), "ok ");
    std::string answer = "none";
    std::thread waiter([&] { answer = a.Ask("wait 5 60000"); });
    std::this_thread::sleep_for(milliseconds(100));  // let the wait begin; not needed for the result
    const auto t0 = Clock::now();
    quit_.store(true);
    server_.join();
    EXPECT_LT(ms_between(t0, Clock::now()), 5000.0);
    waiter.join();
    EXPECT_TRUE(answer == "ok 0" || answer.empty()) << answer;
    EXPECT_FALSE(fs::is_symlink(Link(6))) << "the device's link outlived the server";
}

}  // namespace
