// The process-wide connection over the OS layer of serial_os.h.
#include "serial.h"

#include <mutex>

#include "serial_os.h"

std::atomic<com_handle_t> hCom{INVALID_COM_HANDLE};

namespace {

// OpenCom runs on a worker; the window may read the reason on its own thread.
std::mutex& error_mutex() {
    static std::mutex m;
    return m;
}

SystemError& last_error() {
    static SystemError error;
    return error;
}

}  // namespace

int OpenCom(const std::string& port) {
    // A connection still open would otherwise leak its handle (and its lock,
    // which would refuse the open that follows).
    const com_handle_t old = hCom.exchange(INVALID_COM_HANDLE);
    if (old != INVALID_COM_HANDLE) serial_os::Close(old);

    SystemError error;
    const com_handle_t h = serial_os::Open(port, &error);
    hCom.store(h);
    {
        std::lock_guard<std::mutex> lock(error_mutex());
        last_error() = h == INVALID_COM_HANDLE ? error : SystemError();
    }
    return h != INVALID_COM_HANDLE ? 1 : 0;
}

int CloseCom() {
    const com_handle_t h = hCom.exchange(INVALID_COM_HANDLE);
    if (h == INVALID_COM_HANDLE) return 0;
    serial_os::Close(h);
    return 1;
}

SystemError OpenComError() {
    std::lock_guard<std::mutex> lock(error_mutex());
    return last_error();
}
