// The operating system's side of the serial connection: one implementation
// per OS (serial_posix.cpp, serial_win32.cpp), chosen by the build.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include "serial.h"

namespace serial_os {

// Opens the port exclusively (a second opener is refused) and applies the
// line settings and time-outs. Returns the handle, or INVALID_COM_HANDLE with
// the OS's reason in *error.
com_handle_t Open(const std::string& port, std::string* error);

enum class Read { Byte, Idle, Failed };

// Reads one byte: Byte as soon as one is there; Idle after 25 ms without one;
// Failed at once when the read fails (closed handle, line hung up).
Read ReadByte(com_handle_t h, unsigned char* byte);

// Writes all of `data`, waiting at most `bound` for flow control to let it
// out, and giving up within about 25 ms once *stop (when given) is set.
// False when the write failed, did not complete in time or was stopped;
// what is still queued is then dropped, so it cannot reach the device later.
bool Write(com_handle_t h, const char* data, std::size_t size, std::chrono::milliseconds bound,
           const std::atomic<bool>* stop = nullptr);

void Close(com_handle_t h);

}  // namespace serial_os
