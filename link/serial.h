// The process-wide serial connection to the device.
//
// Line settings: 115200 baud, 8 data bits, no parity, 1 stop bit, RTS/CTS
// flow control, no XON/XOFF, DTR off; a one-byte read returns as soon as a
// byte is there, or after 25 ms without one (an "idle read").
//
// Only one device operation runs at a time; callers keep to that (the window
// disables its buttons while a worker talks to the device).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/system_error.h"

using com_handle_t = std::intptr_t;
// All bits set, as the Win32 INVALID_HANDLE_VALUE.
constexpr com_handle_t INVALID_COM_HANDLE = -1;

// The open connection, or INVALID_COM_HANDLE.
extern std::atomic<com_handle_t> hCom;

// Opens `port` exclusively (at PortPath(port), base/port_name.h) and
// configures it. Stores the result in hCom.
// Returns non-zero when the port is open and configured (the last step,
// setting the time-outs, succeeded), 0 otherwise. On failure the system's
// error is kept for OpenComError().
int OpenCom(const std::string& port);

// Closes the connection: 1 when one was open, 0 when none was (no OS call).
int CloseCom();

// The system's error of the last failed OpenCom (code and text, such as
// ENOENT, "No such file or directory"); none after a successful one.
SystemError OpenComError();
