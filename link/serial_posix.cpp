// The serial line in termios terms (Linux first; macOS builds the same code).
//
// The port is opened non-blocking and every wait is a poll() against a
// monotonic deadline, so the 25 ms idle read and the write bound hold whatever
// the driver does with VMIN/VTIME. Reads go through a read-ahead buffer: the
// exchange asks for one byte at a time, but a system call per byte would cap
// an unpaced line far below what a USB adapter delivers.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "base/port_name.h"
#include "serial_os.h"

namespace serial_os {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReadTimeout = std::chrono::milliseconds(25);

struct Port {
    int fd = -1;
    std::size_t pos = 0;
    std::size_t len = 0;
    unsigned char buf[4096];
};

Port* port_of(com_handle_t h) {
    if (h == INVALID_COM_HANDLE || h == 0) return nullptr;
    return reinterpret_cast<Port*>(h);
}

// Closes the descriptor unless released: a half-configured port is never kept.
class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    // poll() rounds down; one more millisecond keeps a wait from ending early.
    return static_cast<int>(left) + 1;
}

bool fail(SystemError* error, int err) {
    if (error) *error = SystemErrorOf(err);
    return false;
}

bool configure(int fd, SystemError* error) {
    termios tio;
    if (::tcgetattr(fd, &tio) != 0) return fail(error, errno);
    ::cfmakeraw(&tio);
    if (::cfsetispeed(&tio, B115200) != 0 || ::cfsetospeed(&tio, B115200) != 0) return fail(error, errno);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD | CRTSCTS;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    int rc;
    do {
        rc = ::tcsetattr(fd, TCSANOW, &tio);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return fail(error, errno);

    // The device must not see DTR; lines without modem signals (a
    // pseudo-terminal) simply have none to drop.
    int dtr = TIOCM_DTR;
    if (::ioctl(fd, TIOCMBIC, &dtr) != 0 && errno != ENOTTY && errno != EINVAL) return fail(error, errno);
    return true;
}

void sleep_1ms() {
    timespec ts{0, 1000000};
    ::nanosleep(&ts, nullptr);
}

}  // namespace

com_handle_t Open(const std::string& port, SystemError* error) {
    const std::string path = PortPath(port);

    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        fail(error, errno);
        return INVALID_COM_HANDLE;
    }
    FdGuard guard(fd);

    // TIOCEXCL alone does not stop root, so the port is also locked; the
    // lock is what a second opener of any rank runs into.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        fail(error, errno == EWOULDBLOCK ? EBUSY : errno);
        return INVALID_COM_HANDLE;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        fail(error, errno);
        return INVALID_COM_HANDLE;
    }
    if (!configure(fd, error)) {
        ::ioctl(fd, TIOCNXCL);
        return INVALID_COM_HANDLE;
    }

    Port* p = new Port;
    p->fd = guard.release();
    if (error) *error = SystemError();
    return reinterpret_cast<com_handle_t>(p);
}

Read ReadByte(com_handle_t h, unsigned char* byte, SystemError* error) {
    Port* p = port_of(h);
    if (!p) {
        fail(error, EBADF);
        return Read::Failed;
    }
    if (p->pos < p->len) {
        *byte = p->buf[p->pos++];
        return Read::Byte;
    }

    // With VMIN = VTIME = 0 a read of an empty line returns 0, just as a read
    // of a hung-up one does; only after poll() has reported the line ready
    // does a 0 mean that the line is gone.
    ssize_t n = ::read(p->fd, p->buf, sizeof p->buf);
    if (n > 0) {
        p->pos = 1;
        p->len = static_cast<std::size_t>(n);
        *byte = p->buf[0];
        return Read::Byte;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        fail(error, errno);
        return Read::Failed;
    }

    const auto deadline = Clock::now() + kReadTimeout;
    for (;;) {
        pollfd pfd{p->fd, POLLIN, 0};
        int rc = ::poll(&pfd, 1, remaining_ms(deadline));
        if (rc < 0) {
            if (errno == EINTR) continue;
            fail(error, errno);
            return Read::Failed;
        }
        if (rc == 0) {
            if (Clock::now() >= deadline) return Read::Idle;
            continue;
        }
        if (pfd.revents & (POLLERR | POLLNVAL)) {
            fail(error, (pfd.revents & POLLNVAL) ? EBADF : EIO);
            return Read::Failed;
        }
        n = ::read(p->fd, p->buf, sizeof p->buf);
        if (n > 0) {
            p->pos = 1;
            p->len = static_cast<std::size_t>(n);
            *byte = p->buf[0];
            return Read::Byte;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (Clock::now() >= deadline) return Read::Idle;
            continue;
        }
        // A line reported ready that gives nothing has hung up.
        fail(error, n < 0 ? errno : EIO);
        return Read::Failed;
    }
}

bool Write(com_handle_t h, const char* data, std::size_t size, std::chrono::milliseconds bound,
           const std::atomic<bool>* stop, SystemError* error) {
    Port* p = port_of(h);
    if (!p) return false;
    const auto deadline = Clock::now() + bound;
    auto stopped = [stop] { return stop && stop->load(std::memory_order_acquire); };

    auto give_up = [p] {
        ::tcflush(p->fd, TCOFLUSH);
        return false;
    };

    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(p->fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return fail(error, errno);
        // Flow control holds the line (or the queue is full): wait for room.
        int ms = remaining_ms(deadline);
        if (ms == 0 || stopped()) return give_up();
        pollfd pfd{p->fd, POLLOUT, 0};
        int rc = ::poll(&pfd, 1, ms < 25 ? ms : 25);
        if (rc < 0 && errno != EINTR) return fail(error, errno);
        if (rc > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) return fail(error, EIO);
    }

    // The bytes are queued; the write is done when they have left the port.
#ifdef TIOCOUTQ
    for (;;) {
        int queued = 0;
        if (::ioctl(p->fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
        if (Clock::now() >= deadline || stopped()) return give_up();
        sleep_1ms();
    }
#endif
    return true;
}

bool Alive(com_handle_t h, SystemError* error) { return port_of(h) != nullptr || fail(error, EBADF); }

std::intptr_t NativeHandle(com_handle_t h) {
    const Port* p = port_of(h);
    return p ? p->fd : -1;
}

void Close(com_handle_t h) {
    Port* p = port_of(h);
    if (!p) return;
    // The exclusive mark outlives this descriptor while anyone else keeps the
    // line open; left set, it would refuse our own next open.
    ::ioctl(p->fd, TIOCNXCL);
    ::close(p->fd);
    delete p;
}

}  // namespace serial_os
