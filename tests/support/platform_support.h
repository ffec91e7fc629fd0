// What the tests need to know of the OS they run on.
#pragma once

#include <string>

#include "link/serial_os.h"

// A port name that names no port on this OS.
std::string MissingPort();

// The error the line layer gives when the missing port is opened (taken
// from that layer, not written out again).
inline SystemError MissingPortError() {
    SystemError error;
    const com_handle_t h = serial_os::Open(MissingPort(), &error);
    if (h != INVALID_COM_HANDLE) serial_os::Close(h);
    return error;
}
inline std::string MissingPortReason() { return MissingPortError().text; }

// The reason the OS gives for a file path whose folder is a plain file.
std::string PathNotFoundReason();

// True for a Windows program run by Wine, where a pseudo-terminal stands in
// for the serial port and some line events are not passed on.
bool RunningUnderWine();

// Why a test of a port held by another opener is skipped under Wine.
inline constexpr const char* kWineSharesPorts =
    "Wine opens a COM port a second time, where Windows refuses a second opener";
