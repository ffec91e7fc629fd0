// OpenCom and the POSIX line layer: pseudo-terminals, the exclusive open,
// the termios settings and writes held back by a reader that does not read.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link_fixture.h"
#include "platform_support.h"
#include "serial_os.h"

namespace {

// A pseudo-terminal whose device side nobody reads: its queue fills up and
// holds a writer back like a device keeping CTS off. Returns the master
// side (to close) and the path of the port, or -1.
inline int UnreadPort(std::string* path) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return -1;
    *path = ::ptsname(master);
    return master;
}

}  // namespace

TEST(OpenCom, MissingPortsAndBareNames) {
    EXPECT_EQ(OpenCom(MissingPort()), 0);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_EQ(OpenComError(), "No such file or directory");
    EXPECT_EQ(CloseCom(), 0);

    krx3sim::Simulator sim;
    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    // From inside /dev/pts the bare number names a file of the working
    // folder, but a bare name must be looked for in /dev only.
    const std::string path = sim.PortPath();
    ASSERT_EQ(::chdir("/dev/pts"), 0);
    EXPECT_EQ(OpenCom(path.substr(path.rfind('/') + 1)), 0);
    EXPECT_EQ(OpenComError(), "No such file or directory");
    // /dev/null opens and then refuses to be a terminal: the reason is that
    // of the failing step, so the name was found in /dev.
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_EQ(OpenCom("null"), 0);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_EQ(OpenComError(), "Inappropriate ioctl for device");
    // A path is opened as given, relative ones included.
    EXPECT_NE(OpenCom(path.substr(1)), 0) << OpenComError();
    EXPECT_EQ(OpenComError(), "");
    EXPECT_EQ(CloseCom(), 1);
    if (::chdir(saved) != 0) std::abort();
}

TEST(OpenCom, PortHeldByAnotherOpenerIsRefusedUntilReleased) {
    krx3sim::Simulator sim;
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    std::string error;
    EXPECT_EQ(serial_os::Open(sim.PortPath(), &error), INVALID_COM_HANDLE);
    EXPECT_EQ(error, "Device or resource busy");
    // A second OpenCom closes the first connection: were it kept, its lock
    // would refuse this open.
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    // A failed open clears the connection, lock and exclusive mark both.
    EXPECT_EQ(OpenCom(MissingPort()), 0);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    const com_handle_t h = serial_os::Open(sim.PortPath(), &error);
    EXPECT_NE(h, INVALID_COM_HANDLE) << "the connection leaked: " << error;
    serial_os::Close(h);
}

TEST(OpenCom, AppliesTheDeviceLineSettingsAndClosesOnce) {
    krx3sim::Simulator sim;
    // A descriptor of our own (no lock) to look at the line's settings.
    const int fd = ::open(sim.PortPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    termios t;
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              static_cast<tcflag_t>(CS8 | CRTSCTS | CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | IGNCR | INLCR), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(CloseCom(), 1);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_EQ(CloseCom(), 0);
    ::close(fd);
}

// A port nobody reads holds a write back as a device keeping CTS off does:
// the command fails at the write bound, or soon after a stop request (the
// window closing) long before it.
TEST(BoundsWrite, HeldBackCommandEndsAtTheWriteBoundOrAStop) {
    const struct {
        milliseconds bound;
        bool stop;
        ExchangeEnd end;
        double least_ms, most_ms;
    } cases[] = {{milliseconds(200), false, ExchangeEnd::WriteFailed, 200, 3000},
                 {milliseconds(20000), true, ExchangeEnd::Stopped, 0, 5000}};
    for (const auto& c : cases) {
        std::string path;
        const int master = UnreadPort(&path);
        ASSERT_GE(master, 0) << "no pseudo-terminal";
        ASSERT_NE(OpenCom(path), 0) << OpenComError();
        ExchangeBounds eb = DefaultExchangeBounds();
        eb.write = c.bound;
        SetExchangeBounds(eb);
        std::atomic<bool> writing{false};
        std::thread stopper([&] {
            while (c.stop && !writing.load()) std::this_thread::yield();
            // Well into the write; a stop before it would end it unwritten.
            if (c.stop) std::this_thread::sleep_for(milliseconds(50));
            if (c.stop) StopExchanges(true);
        });
        ExchangeEnd end = ExchangeEnd::Silence;
        const auto t0 = Clock::now();
        writing.store(true);
        EXPECT_EQ(krx_cmd(std::string(4 * 1024 * 1024, 'x') + "\r", 1, &end), "");
        const double ms = ms_between(t0, Clock::now());
        stopper.join();
        StopExchanges(false);
        EXPECT_EQ(end, c.end);
        EXPECT_GE(ms, c.least_ms);
        EXPECT_LT(ms, c.most_ms);
        EXPECT_EQ(CloseCom(), 1);
        SetExchangeBounds(DefaultExchangeBounds());
        ::close(master);
    }
}
