// The serial line through the Win32 communications API.
//
// The handle is the file handle itself (INVALID_HANDLE_VALUE is
// INVALID_COM_HANDLE). Reads take one byte per ReadFile: the driver's own
// time-outs give the 25 ms idle read. Writes are bounded by the write
// time-out, which follows the bound each call asks for.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "ansi_text_win32.h"
#include "serial_os.h"
#include "system_error.h"

namespace serial_os {
namespace {

constexpr DWORD kReadTimeoutMs = 25;
// The longest one WriteFile waits for flow control; Write loops over such
// slices until its bound.
constexpr DWORD kWriteSliceMs = 25;

HANDLE handle_of(com_handle_t h) { return reinterpret_cast<HANDLE>(h); }

bool is_path(const std::string& port) { return port.rfind("//", 0) == 0 || port.rfind("\\\\", 0) == 0; }

COMMTIMEOUTS timeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = kReadTimeoutMs;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = kReadTimeoutMs;
    t.WriteTotalTimeoutMultiplier = 0;
    // Never 0: zero means no write time-out at all, and a device holding
    // CTS off would then keep the write forever.
    t.WriteTotalTimeoutConstant = kWriteSliceMs;
    return t;
}

}  // namespace

com_handle_t Open(const std::string& port, SystemError* error) {
    // COM10 and above are only reachable through the device namespace.
    const std::wstring path = WidenAnsi(is_path(port) ? port : "//./" + port);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = LastSystemError();
        return INVALID_COM_HANDLE;
    }

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    // When the settings cannot be read, the fields below still make a
    // complete line setting on a zeroed record.
    if (!GetCommState(h, &dcb)) {
        ZeroMemory(&dcb, sizeof dcb);
    }
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = CBR_115200;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // Unused (no XON/XOFF), but SetCommState refuses equal characters.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 13;
    dcb.EvtChar = 0;
    // A port that refuses the line settings would talk at a rate and framing
    // the device does not use: that is a failed open, with the system's reason.
    if (!SetCommState(h, &dcb)) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        if (error) *error = SystemErrorOf(static_cast<long>(code));
        return INVALID_COM_HANDLE;
    }

    COMMTIMEOUTS t = timeouts();
    if (!SetCommTimeouts(h, &t)) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        if (error) *error = SystemErrorOf(static_cast<long>(code));
        return INVALID_COM_HANDLE;
    }
    if (error) *error = SystemError();
    return reinterpret_cast<com_handle_t>(h);
}

Read ReadByte(com_handle_t h, unsigned char* byte, SystemError* error) {
    if (h == INVALID_COM_HANDLE) {
        if (error) *error = SystemErrorOf(ERROR_INVALID_HANDLE);
        return Read::Failed;
    }
    DWORD got = 0;
    if (!ReadFile(handle_of(h), byte, 1, &got, nullptr)) {
        if (error) *error = LastSystemError();
        return Read::Failed;
    }
    return got == 1 ? Read::Byte : Read::Idle;
}

bool Write(com_handle_t h, const char* data, std::size_t size, std::chrono::milliseconds bound,
           const std::atomic<bool>* stop, SystemError* error) {
    if (h == INVALID_COM_HANDLE) return false;
    const HANDLE port = handle_of(h);
    // Each WriteFile waits at most one slice, so that a stop request is seen
    // within about 25 ms; the bound holds for the whole write.
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(port, &t) || t.WriteTotalTimeoutConstant != kWriteSliceMs ||
        t.WriteTotalTimeoutMultiplier != 0) {
        t = timeouts();
        if (!SetCommTimeouts(port, &t)) {
            if (error) *error = LastSystemError();
            return false;
        }
    }
    const ULONGLONG ms = bound.count() <= 0 ? 1 : static_cast<ULONGLONG>(bound.count());
    const ULONGLONG deadline = GetTickCount64() + ms;
    std::size_t done = 0;
    while (done < size) {
        const std::size_t left = size - done;
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(port, data + done, chunk, &written, nullptr)) {
            if (error) *error = LastSystemError();
            return false;
        }
        done += written;
        if (done < size && (GetTickCount64() >= deadline || (stop && stop->load(std::memory_order_acquire)))) {
            // Held back by flow control past the bound, or stopped: drop
            // what is queued so that it does not reach the device later.
            PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
            return false;
        }
    }
    return true;
}

void Close(com_handle_t h) {
    if (h == INVALID_COM_HANDLE) return;
    CloseHandle(handle_of(h));
}

}  // namespace serial_os
