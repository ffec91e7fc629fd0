// Serial connections to the device: a `Connection` is one port held open,
// and the window's process-wide one keeps the names `hCom`, `OpenCom` and
// `CloseCom`. Several connections may be open at once, each on its own port
// and each used by one thread at a time.
//
// Line settings: 115200 baud, 8 data bits, no parity, 1 stop bit, RTS/CTS
// flow control, no XON/XOFF, DTR off; a one-byte read returns as soon as a
// byte is there, or after 25 ms without one (an "idle read").
//
// On the window's connection only one device operation runs at a time;
// callers keep to that (the window disables its buttons while a worker talks
// to the device).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/system_error.h"

using com_handle_t = std::intptr_t;
// All bits set, as the Win32 INVALID_HANDLE_VALUE.
constexpr com_handle_t INVALID_COM_HANDLE = -1;

// One connection: a port opened exclusively and configured, or none.
// Open closes the port it held before; the destructor closes what is open.
// The handle may be read from any thread (a window asks whether its port is
// held); opening and closing are for the thread that talks on it.
class Connection {
public:
    Connection() : handle_(&own_) {}
    // A connection whose handle is kept in `*handle` (hCom for the window's).
    explicit Connection(std::atomic<com_handle_t>* handle) : handle_(handle) {}
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens `port` (at PortPath(port), base/port_name.h): true when it is
    // open and configured; otherwise the system's error is kept for
    // OpenError().
    bool Open(const std::string& port);
    // Closes it: true when one was open, false when none was (no OS call).
    bool Close();
    com_handle_t Handle() const { return handle_->load(); }
    // The system's error of the last failed Open; none after one succeeded.
    SystemError OpenError() const;

private:
    std::atomic<com_handle_t> own_{INVALID_COM_HANDLE};
    std::atomic<com_handle_t>* handle_;
    mutable std::mutex error_mutex_;
    SystemError error_;
};

// The window's connection, over hCom.
Connection& WindowConnection();

// The window's open connection, or INVALID_COM_HANDLE.
extern std::atomic<com_handle_t> hCom;

// Opens `port` exclusively on the window's connection (at PortPath(port),
// base/port_name.h) and configures it. Stores the result in hCom.
// Returns non-zero when the port is open and configured (the last step,
// setting the time-outs, succeeded), 0 otherwise. On failure the system's
// error is kept for OpenComError().
int OpenCom(const std::string& port);

// Closes the window's connection: 1 when one was open, 0 when none was (no OS call).
int CloseCom();

// The system's error of the last failed OpenCom (code and text, such as
// ENOENT, "No such file or directory"); none after a successful one.
SystemError OpenComError();
