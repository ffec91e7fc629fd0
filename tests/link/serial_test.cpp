// OpenCom / CloseCom and the POSIX line layer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>
#include <atomic>
#include <thread>

#include "link_fixture.h"
#include "serial_os.h"

namespace {

class CwdGuard {
public:
    CwdGuard() {
        char buf[4096];
        if (::getcwd(buf, sizeof buf)) saved_ = buf;
    }
    ~CwdGuard() {
        if (!saved_.empty() && ::chdir(saved_.c_str()) != 0) std::abort();
    }

private:
    std::string saved_;
};

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

TEST(OpenCom, PortThatDoesNotExistLeavesNoConnection) {
    EXPECT_EQ(OpenCom("/dev/krx3-no-such-port"), 0);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_EQ(OpenComError(), "No such file or directory");
    EXPECT_EQ(CloseCom(), 0);
}

TEST(OpenCom, BareNameIsLookedForInDev) {
    krx3sim::Simulator sim;
    CwdGuard cwd;
    // From inside /dev/pts the bare number names a file of the working
    // folder, but a bare name must be looked for in /dev only.
    ASSERT_EQ(::chdir("/dev/pts"), 0);
    EXPECT_EQ(OpenCom(base_name(sim.PortPath())), 0);
    EXPECT_EQ(OpenComError(), "No such file or directory");

    // /dev/null opens and locks, and then refuses to be a terminal: the
    // reason is that of the failing step, so the name was found in /dev.
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_EQ(OpenCom("null"), 0);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_EQ(OpenComError(), "Inappropriate ioctl for device");

    // A path is opened as given, relative ones included.
    EXPECT_NE(OpenCom(sim.PortPath().substr(1)), 0) << OpenComError();
    EXPECT_EQ(OpenComError(), "");
    EXPECT_EQ(CloseCom(), 1);
}

TEST(OpenCom, PortHeldByAnotherOpenerIsRefused) {
    krx3sim::Simulator sim;
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    std::string error;
    EXPECT_EQ(serial_os::Open(sim.PortPath(), &error), INVALID_COM_HANDLE);
    EXPECT_EQ(error, "Device or resource busy");

    // Released by CloseCom: the lock and the exclusive mark are both gone.
    EXPECT_EQ(CloseCom(), 1);
    const com_handle_t h = serial_os::Open(sim.PortPath(), &error);
    EXPECT_NE(h, INVALID_COM_HANDLE) << error;
    serial_os::Close(h);
}

TEST(OpenCom, SecondOpenClosesTheFirstConnection) {
    krx3sim::Simulator sim;
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    // Were the first connection kept, its lock would refuse this open.
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    EXPECT_NE(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_EQ(CloseCom(), 1);
    EXPECT_EQ(CloseCom(), 0);
}

TEST(OpenCom, FailedOpenAfterAGoodOneClearsTheConnection) {
    krx3sim::Simulator sim;
    ASSERT_NE(OpenCom(sim.PortPath()), 0);
    EXPECT_EQ(OpenCom("/dev/krx3-no-such-port"), 0);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    std::string error;
    const com_handle_t h = serial_os::Open(sim.PortPath(), &error);
    EXPECT_NE(h, INVALID_COM_HANDLE) << "the first connection leaked: " << error;
    serial_os::Close(h);
}

TEST(OpenCom, AppliesTheDeviceLineSettings) {
    krx3sim::Simulator sim;
    // A descriptor of our own (no lock) to look at the line's settings.
    const int fd = ::open(sim.PortPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    termios t;
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | IGNCR | INLCR), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(CloseCom(), 1);
    ::close(fd);
}

TEST(CloseCom, ClosingTwiceGivesOneThenZero) {
    krx3sim::Simulator sim;
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    EXPECT_EQ(CloseCom(), 1);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_EQ(CloseCom(), 0);
}

TEST(CloseCom, ExchangesAfterCloseFailAtOnceAndWriteNothing) {
    krx3sim::Simulator sim(krx3sim::SampleLogs(2, 3));
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    ASSERT_EQ(CloseCom(), 1);

    const auto t0 = Clock::now();
    ExchangeEnd end = ExchangeEnd::Silence;
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "");
    EXPECT_EQ(end, ExchangeEnd::NotOpen);
    TStringList list;
    EXPECT_EQ(mlt_cmd("fs list\r", list, 1), ExchangeEnd::NotOpen);
    int calls = 0;
    EXPECT_EQ(slt_cmd("fs read X\r", list, 1, [&calls](int) { ++calls; }), ExchangeEnd::NotOpen);
    // Not one idle read was spent: three exchanges, well under one each.
    EXPECT_LT(ms_between(t0, Clock::now()), 50.0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(sim.WaitForCommands(1, milliseconds(200)));
}

TEST(SerialOs, IdleReadWaitsAboutOneReadTimeout) {
    krx3sim::Simulator sim;
    krx3sim::Behaviour b;
    b.silent = true;
    sim.SetBehaviour(b);
    std::string error;
    const com_handle_t h = serial_os::Open(sim.PortPath(), &error);
    ASSERT_NE(h, INVALID_COM_HANDLE) << error;
    unsigned char byte = 0;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        EXPECT_EQ(serial_os::ReadByte(h, &byte), serial_os::Read::Idle);
        const double ms = ms_between(t0, Clock::now());
        EXPECT_GE(ms, 25.0);
        EXPECT_LT(ms, 1000.0);
    }
    serial_os::Close(h);
    EXPECT_EQ(serial_os::ReadByte(INVALID_COM_HANDLE, &byte), serial_os::Read::Failed);
}

TEST(SerialOs, HungUpLineFailsReadsAtOnce) {
    krx3sim::Simulator sim;
    std::string error;
    const com_handle_t h = serial_os::Open(sim.PortPath(), &error);
    ASSERT_NE(h, INVALID_COM_HANDLE) << error;
    sim.HangUp();
    unsigned char byte = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(serial_os::ReadByte(h, &byte), serial_os::Read::Failed);
    EXPECT_EQ(serial_os::ReadByte(h, &byte), serial_os::Read::Failed);
    EXPECT_LT(ms_between(t0, Clock::now()), 20.0);
    serial_os::Close(h);
}

// A pseudo-terminal whose device side nobody reads: its queue fills up and
// holds the writer back like a device keeping CTS off.
TEST(SerialOs, WriteThatCannotGetOutFailsWithinItsBound) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0) << "no pseudo-terminal";
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string path = ::ptsname(master);
    std::string error;
    const com_handle_t h = serial_os::Open(path, &error);
    ASSERT_NE(h, INVALID_COM_HANDLE) << error;

    const std::string small = "md mach\r";
    EXPECT_TRUE(serial_os::Write(h, small.data(), small.size(), milliseconds(500)));
    char got[16] = {};
    pollfd pfd{master, POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 1000), 1);
    EXPECT_EQ(::read(master, got, sizeof got), static_cast<ssize_t>(small.size()));
    EXPECT_EQ(std::string(got, small.size()), small);

    const std::vector<char> big(4 * 1024 * 1024, 'x');
    const auto t0 = Clock::now();
    EXPECT_FALSE(serial_os::Write(h, big.data(), big.size(), milliseconds(200)));
    const double ms = ms_between(t0, Clock::now());
    EXPECT_GE(ms, 195.0);
    EXPECT_LT(ms, 2000.0);
    serial_os::Close(h);
    ::close(master);
}

// Closing the window sets the stop flag: a write held back by flow control
// must give up long before its own bound, so that the run can end.
TEST(SerialOs, AHeldBackWriteEndsSoonAfterAStopRequest) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0) << "no pseudo-terminal";
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    std::string error;
    const com_handle_t h = serial_os::Open(::ptsname(master), &error);
    ASSERT_NE(h, INVALID_COM_HANDLE) << error;

    std::atomic<bool> stop{false};
    std::atomic<bool> writing{false};
    std::thread stopper([&] {
        while (!writing.load()) std::this_thread::yield();
        std::this_thread::sleep_for(milliseconds(50));
        stop.store(true);
    });
    const std::vector<char> big(4 * 1024 * 1024, 'x');
    const auto t0 = Clock::now();
    writing.store(true);
    EXPECT_FALSE(serial_os::Write(h, big.data(), big.size(), milliseconds(20000), &stop));
    EXPECT_LT(ms_between(t0, Clock::now()), 5000.0) << "the write waited for its own bound";
    stopper.join();
    serial_os::Close(h);
    ::close(master);
}
