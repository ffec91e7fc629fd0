// krx3: lists, pulls and deletes the device's logs from the command line,
// with the window's conversations and the window's .log files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "discovery/portscan.h"
#include "options.h"

namespace {

// The ports the scan finds, in the order the window's port box shows them;
// false after saying why when the ports could not be read.
bool scannedPorts(std::vector<FoundPort>* found) {
    const PortScanResult scan = ScanMachinePorts();
    if (scan.error.Failed()) {
        say("krx3: " + ScanFailureText(scan.error));
        return false;
    }
    *found = PortsInOrder(scan);
    return true;
}

const std::string kNoAdapterPort = "krx3: no port of the device's USB serial adapter was found.";

// The port to use, and with --by-serial its adapter's serial number into
// o->serial (one scan for both); empty (after saying why) when there is none.
std::string choosePort(Options* o) {
    std::vector<FoundPort> ports;
    if (!o->port.empty() && !o->by_serial) return o->port;
    if (!scannedPorts(&ports)) return std::string();
    if (o->port.empty()) {
        if (ports.empty()) {
            say(kNoAdapterPort + "\nIs the device connected? Name its port with --port.");
            return std::string();
        }
        o->port = ports.front().name;
    }
    if (!o->by_serial) return o->port;
    o->serial = SerialOfPort(ports, o->port);
    if (!o->serial.empty()) return o->port;
    say("krx3: the serial number of the adapter of \"" + o->port +
        "\" is not known: the scan does not find it (see \"krx3 ports\"). --by-serial needs it.");
    return std::string();
}

// Each port, its adapter's serial number ("-" when it has none), and a * for
// the one taken without --port.
int portsCommand() {
    std::vector<FoundPort> ports;
    if (!scannedPorts(&ports)) return kUsage;
    if (ports.empty()) {
        say(kNoAdapterPort);
        return kUsage;
    }
    std::size_t width = 0;
    for (const FoundPort& p : ports) width = std::max(width, p.name.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const std::string& serial = ports[i].serial;
        std::printf("%-*s  %s%s\n", static_cast<int>(width), ports[i].name.c_str(),
                    serial.empty() ? "-" : serial.c_str(), i == 0 ? " *" : "");
    }
    return kDone;
}

int run(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::fputs(kHelp, stdout);
        return kDone;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("krx3 %s\n", KRX3_VERSION);
        return kDone;
    }
    Options o;
    if (const int status = parse(argc, argv, &o)) return status;
    if (o.command == "ports") return portsCommand();
    if (o.command == "watch") return watchCommand(o);
    if (o.command == "report") return reportCommand(o);
    if (o.command != "list" && o.command != "pull" && o.command != "delete")
        return usage("unknown command \"" + o.command + "\".");
    const std::string port = choosePort(&o);
    if (port.empty()) return kUsage;
    if (o.command == "list") return listCommand(o, port);
    if (o.command == "pull") return pullCommand(o, port);
    return deleteCommand(o, port);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        say(std::string("krx3: ") + e.what());
        return kUsage;
    }
}
