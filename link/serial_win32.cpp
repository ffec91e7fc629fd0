// The serial line through the Win32 communications API.
//
// The handle stands for the port's file handle, opened for overlapped I/O,
// and a read-ahead buffer: the exchange asks for one byte at a time, and one
// ReadFile per byte costs far more than the line's bytes under some systems
// (an overlapped read under Wine goes through its server). A read returns
// what came within 25 ms; nothing is an idle read. A byte so reaches the
// exchange up to 25 ms after it arrived, which only moves the end of a reply
// by as much. Every read and write also has a deadline of its own, kept by
// waiting on the I/O and cancelling it: no driver, whatever it makes of the
// time-outs, holds the caller past it.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/ansi_text_win32.h"
#include "base/port_name.h"
#include "base/system_error.h"
#include "serial_os.h"

namespace serial_os {
namespace {

constexpr DWORD kReadTimeoutMs = 25;
// The longest one read may take, whatever the driver does: far above the
// read time-out, far below the second in which a closing window must be
// done with its run.
constexpr DWORD kReadDeadlineMs = 250;
// The longest one WriteFile waits for flow control; Write loops over such
// slices until its bound.
constexpr DWORD kWriteSliceMs = 25;

struct Port {
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD pos = 0;
    DWORD len = 0;
    unsigned char buf[4096];
};

Port* port_of(com_handle_t h) { return h == INVALID_COM_HANDLE ? nullptr : reinterpret_cast<Port*>(h); }
HANDLE handle_of(com_handle_t h) { return port_of(h)->h; }

COMMTIMEOUTS timeouts() {
    COMMTIMEOUTS t{};
    // What comes within the read time-out (nothing: an idle read). The
    // variant that returns at the first byte (MAXDWORD, MAXDWORD, 25) is not
    // kept by Wine, which then waits for a byte without end.
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
    const std::wstring path = WidenAnsi(PortPath(port));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                           nullptr);
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
    Port* p = new Port;
    p->h = h;
    return reinterpret_cast<com_handle_t>(p);
}

namespace {

// One overlapped call: its OVERLAPPED, its event and the bytes it reads or
// writes, together on the heap. The driver owns all three until the call
// completes; a call that does not complete even after it was cancelled is
// left to the driver, never freed under it. (One event per call, not one
// per thread: a thread-local object with a destructor is what the MinGW
// runtime has been seen to trip over at thread exit.)
struct Call {
    explicit Call(std::size_t size) : bytes(size) { ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Call() {
        if (ov.hEvent) CloseHandle(ov.hEvent);
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    OVERLAPPED ov{};
    std::vector<char> bytes;
};

// How long a cancelled call is waited for. A driver that has not let go of
// it by then holds a call that is abandoned to it.
constexpr DWORD kCancelWaitMs = 1000;

enum class Io { Done, Failed };

// The result of a finished I/O. A read or write that ran out of its
// time-out, or was cancelled, has moved what it could (*n): Windows reports
// the time-out as success, Wine as ERROR_TIMEOUT.
Io result(HANDLE port, OVERLAPPED* ov, DWORD* n, SystemError* error) {
    if (GetOverlappedResult(port, ov, n, FALSE)) return Io::Done;
    const DWORD code = GetLastError();
    if (code == ERROR_TIMEOUT) return Io::Done;
    if (code == ERROR_OPERATION_ABORTED) return Io::Done;
    if (error) *error = SystemErrorOf(static_cast<long>(code));
    return Io::Failed;
}

// Begins an overlapped read or write on `call` and waits for it until
// `deadline_ms`; then cancels it and waits for the cancellation, at most
// kCancelWaitMs. *n: bytes moved. A call the driver does not give back is
// Failed, and released to the driver (`call` is then empty).
template <class Begin>
Io overlapped(HANDLE port, DWORD deadline_ms, DWORD* n, SystemError* error, std::unique_ptr<Call>& call, Begin begin) {
    *n = 0;
    if (!call->ov.hEvent) {
        if (error) *error = LastSystemError();
        return Io::Failed;
    }
    if (begin(&call->ov)) return result(port, &call->ov, n, error);
    const DWORD code = GetLastError();
    if (code == ERROR_TIMEOUT) return Io::Done;
    if (code != ERROR_IO_PENDING) {
        if (error) *error = SystemErrorOf(static_cast<long>(code));
        return Io::Failed;
    }
    if (WaitForSingleObject(call->ov.hEvent, deadline_ms) == WAIT_OBJECT_0) return result(port, &call->ov, n, error);
    CancelIoEx(port, &call->ov);
    if (WaitForSingleObject(call->ov.hEvent, kCancelWaitMs) != WAIT_OBJECT_0) {
        call.release();  // still the driver's: left to it, never freed under it
        if (error) *error = SystemErrorOf(WAIT_TIMEOUT);
        return Io::Failed;
    }
    GetOverlappedResult(port, &call->ov, n, FALSE);
    return Io::Done;
}

}  // namespace

Read ReadByte(com_handle_t h, unsigned char* byte, SystemError* error) {
    Port* p = port_of(h);
    if (!p) {
        if (error) *error = SystemErrorOf(ERROR_INVALID_HANDLE);
        return Read::Failed;
    }
    if (p->pos < p->len) {
        *byte = p->buf[p->pos++];
        return Read::Byte;
    }
    DWORD got = 0;
    auto call = std::make_unique<Call>(sizeof p->buf);
    const Io io = overlapped(p->h, kReadDeadlineMs, &got, error, call, [&](OVERLAPPED* ov) {
        return ReadFile(p->h, call->bytes.data(), sizeof p->buf, nullptr, ov) != FALSE;
    });
    if (io == Io::Failed) return Read::Failed;
    if (got == 0) return Read::Idle;
    std::memcpy(p->buf, call->bytes.data(), got);
    p->pos = 1;
    p->len = got;
    *byte = p->buf[0];
    return Read::Byte;
}

bool Write(com_handle_t h, const char* data, std::size_t size, std::chrono::milliseconds bound,
           const std::atomic<bool>* stop, SystemError* error) {
    if (!port_of(h)) return false;
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
        const DWORD chunk = left > 0x10000u ? 0x10000u : static_cast<DWORD>(left);
        DWORD written = 0;
        auto call = std::make_unique<Call>(chunk);
        std::memcpy(call->bytes.data(), data + done, chunk);
        // A slice's own deadline: the driver's write time-out, with room.
        const Io io = overlapped(port, kWriteSliceMs * 4, &written, error, call, [&](OVERLAPPED* ov) {
            return WriteFile(port, call->bytes.data(), chunk, nullptr, ov) != FALSE;
        });
        if (io == Io::Failed) {
            // A write abandoned to the driver must not reach the device later.
            if (!call) PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
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

bool Alive(com_handle_t h, SystemError* error) {
    if (!port_of(h)) {
        if (error) *error = SystemErrorOf(ERROR_INVALID_HANDLE);
        return false;
    }
    // Fails for a device that is gone (an adapter pulled out), where reads
    // may only have looked like silence.
    DWORD errors = 0;
    COMSTAT stat{};
    if (ClearCommError(handle_of(h), &errors, &stat)) return true;
    if (error) *error = LastSystemError();
    return false;
}

void Close(com_handle_t h) {
    Port* p = port_of(h);
    if (!p) return;
    CloseHandle(p->h);
    delete p;
}

std::intptr_t NativeHandle(com_handle_t h) {
    const Port* p = port_of(h);
    return p ? reinterpret_cast<std::intptr_t>(p->h) : INVALID_COM_HANDLE;
}

}  // namespace serial_os
