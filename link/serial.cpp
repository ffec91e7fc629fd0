// Connections over the OS layer of serial_os.h.
#include "serial.h"

#include "serial_os.h"

std::atomic<com_handle_t> hCom{INVALID_COM_HANDLE};

bool Connection::Open(const std::string& port) {
    // A connection still open would otherwise leak its handle (and its lock,
    // which would refuse the open that follows).
    Close();
    SystemError error;
    const com_handle_t h = serial_os::Open(port, &error);
    handle_->store(h);
    std::lock_guard<std::mutex> lock(error_mutex_);
    error_ = h == INVALID_COM_HANDLE ? error : SystemError();
    return h != INVALID_COM_HANDLE;
}

bool Connection::Close() {
    const com_handle_t h = handle_->exchange(INVALID_COM_HANDLE);
    if (h == INVALID_COM_HANDLE) return false;
    serial_os::Close(h);
    return true;
}

SystemError Connection::OpenError() const {
    // Open runs on a worker; the window may read the reason on its own thread.
    std::lock_guard<std::mutex> lock(error_mutex_);
    return error_;
}

Connection& WindowConnection() {
    static Connection window(&hCom);
    return window;
}

int OpenCom(const std::string& port) { return WindowConnection().Open(port) ? 1 : 0; }

int CloseCom() { return WindowConnection().Close() ? 1 : 0; }

SystemError OpenComError() { return WindowConnection().OpenError(); }
