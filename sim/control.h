// krx3-sim's control server: simulated devices for programs that cannot
// link the simulator, such as the Windows test programs run by Wine.
//
// It listens on the loopback interface. Each connection gets a simulator of
// its own, driven by the requests of wire.h, and ends it when it closes.
// When `com_links` names a folder (a Wine prefix's dosdevices), each
// simulator's port is also linked there as the first "comN" from
// `first_com` on that nothing holds yet, Wine's own links included, so that
// a Windows program opens it as COMN.
#pragma once

#include <atomic>
#include <string>

namespace krx3sim {

struct ControlOptions {
    std::string address_file;  // receives "127.0.0.1:PORT" once the server listens
    std::string com_links;     // empty: no links
    int first_com = 5;
};

// Serves until `quit` is set (within about 100 ms), then ends every
// connection and its simulator. Returns 0, or 1 after printing why it could
// not start.
int RunControlServer(const ControlOptions& options, const std::atomic<bool>& quit);

}  // namespace krx3sim
