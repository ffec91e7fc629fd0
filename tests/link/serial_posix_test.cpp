// OpenCom and the termios line layer, on pseudo-terminals.
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "link_fixture.h"

// The line the device talks on (115200 baud 8N1, RTS/CTS, raw bytes), held by
// the connection alone: a second OpenCom closes the first connection (its
// lock would refuse the open), and so does a failed one.
TEST(OpenCom, SetsUpTheDeviceLineHoldsItAloneAndKeepsTheReasonItFailed) {
    krx3sim::Simulator sim;
    const int fd = ::open(sim.PortPath().c_str(), O_RDWR | O_NOCTTY);  // a look at the line, without its lock
    termios t;
    // Cooked and echoing, as a terminal line starts out: OpenCom makes it raw.
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    t.c_lflag |= ICANON | ECHO;
    t.c_iflag |= ICRNL | IXON;
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError().text;
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8 | CRTSCTS));
    EXPECT_TRUE((t.c_iflag & (IXON | IXOFF | ICRNL)) == 0 && (t.c_lflag & (ICANON | ECHO)) == 0);
    SystemError error;
    EXPECT_TRUE(serial_os::Open(sim.PortPath(), &error) == INVALID_COM_HANDLE && error.code == EBUSY) << error.code;
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError().text;
    // A failed open closes the connection, and keeps the reason.
    EXPECT_EQ(OpenCom(MissingPort()), 0);
    EXPECT_TRUE(OpenComError().code == ENOENT && OpenComError().text == "No such file or directory");
    const com_handle_t h = serial_os::Open(sim.PortPath(), &error);
    EXPECT_NE(h, INVALID_COM_HANDLE) << "the connection leaked: " << error.text;
    serial_os::Close(h);
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError().text;
    EXPECT_EQ(CloseCom(), 1);
    EXPECT_EQ(CloseCom(), 0);
    // A bare name is looked for in /dev: /dev/null opens, then refuses to be
    // a terminal.
    EXPECT_EQ(OpenCom("null"), 0);
    EXPECT_TRUE(OpenComError().code == ENOTTY && OpenComError().text == "Inappropriate ioctl for device");
}

// A port nobody reads holds a write back as a device keeping CTS off does: it
// fails at its bound, or at once when asked to stop (the window closing).
TEST(SerialOs, AHeldBackWriteEndsAtItsBoundOrWhenStopped) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    SystemError error;
    const com_handle_t h = serial_os::Open(::ptsname(master), &error);
    ASSERT_NE(h, INVALID_COM_HANDLE) << error.text;
    const std::string command(4 * 1024 * 1024, 'x');
    for (bool stop : {false, true}) {
        const std::atomic<bool> stopped{stop};
        const auto t0 = Clock::now();
        EXPECT_FALSE(serial_os::Write(h, command.data(), command.size(), milliseconds(stop ? 20000 : 200), &stopped));
        EXPECT_GE(Clock::now() - t0, milliseconds(stop ? 0 : 200));
        EXPECT_LT(Clock::now() - t0, milliseconds(3000));
    }
    serial_os::Close(h);
    ::close(master);
}
