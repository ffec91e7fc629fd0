// The operating system's side of the serial connection: one implementation
// per OS (serial_posix.cpp, serial_win32.cpp), chosen by the build.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include "base/system_error.h"
#include "serial.h"

namespace serial_os {

// Opens the port exclusively (a second opener is refused) and applies the
// line settings and time-outs. Returns the handle, or INVALID_COM_HANDLE with
// the system's error in *error.
com_handle_t Open(const std::string& port, SystemError* error);

enum class Read { Byte, Idle, Failed };

// Reads one byte: Byte as soon as one is there; Idle after 25 ms without one;
// Failed at once when the read fails (closed handle, line hung up), with the
// system's error in *error when given.
Read ReadByte(com_handle_t h, unsigned char* byte, SystemError* error = nullptr);

// Writes all of `data`, waiting at most `bound` for flow control to let it
// out, and giving up within about 25 ms once *stop (when given) is set.
// False when the write failed, did not complete in time or was stopped;
// what is still queued is then dropped, so it cannot reach the device later.
// A write the system refused leaves its error in *error when given (one that
// ran out of time or was stopped has none).
bool Write(com_handle_t h, const char* data, std::size_t size, std::chrono::milliseconds bound,
           const std::atomic<bool>* stop = nullptr, SystemError* error = nullptr);

// Whether the connection is still there, asked after a reply ended by
// silence: on Windows a removed device can read as silence, and the line's
// state (ClearCommError) tells it apart; false with the system's error then.
// On POSIX a hung-up line already fails its reads: always true while open.
bool Alive(com_handle_t h, SystemError* error);

void Close(com_handle_t h);

// The system's own handle of an open connection (a HANDLE on Windows, a file
// descriptor elsewhere), for looking at the line's settings.
std::intptr_t NativeHandle(com_handle_t h);

}  // namespace serial_os
