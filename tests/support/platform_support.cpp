#include "platform_support.h"

#include "serial_os.h"

std::string MissingPortReason() {
    std::string reason;
    const com_handle_t h = serial_os::Open(MissingPort(), &reason);
    if (h != INVALID_COM_HANDLE) serial_os::Close(h);
    return reason;
}
