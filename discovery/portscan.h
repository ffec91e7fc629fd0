// Finding the serial ports of the device's USB-serial adapter (an FTDI chip,
// vendor ID 0403, product ID 6015) from the registry.
#pragma once

#include <string>
#include <vector>

#include "base/system_error.h"
#include "registry.h"

struct PortScanResult {
    // False when the serial port map key does not exist at all.
    bool map_exists = false;
    // The matching ports, in the order of the serial port map.
    std::vector<std::string> ports;
    // The serial number of each port's adapter (serials[i] is that of
    // ports[i]) as the name of the device's key holds it: the name is
    // "VID_xxxx+PID_yyyy+<serial><letter>", the letter being the one the
    // driver appends for each port of a chip. Empty when the name has no
    // third field or that field is the letter alone.
    std::vector<std::string> serials;
    // The first failure to read the registry that the scan met (not a key
    // or value that is not there); the ports are then those it could read.
    SystemError error;
};

// Reads "HARDWARE\DEVICEMAP\SERIALCOMM\" for the machine's serial ports and
// "SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\0000\Device Parameters\"
// for the FTDI devices. A port matches when a device with a "LatencyTimer"
// value names it in its own "PortName" value and the device's key name reads
// as VID 403 and PID 6015 with "VID_%04d+PID_%04d" (decimal, up to four
// digits each); of several devices naming the port, the last decides.
PortScanResult ScanPorts(RegistrySource& source);

// A port the scan found and its adapter's serial number ("" when the scan
// does not know it).
struct FoundPort {
    std::string name;
    std::string serial;
};

// The ports as both faces offer them: in the order of their names as text,
// ignoring case (COM10 before COM3; TStringList::Compare), ports of equal
// names in the scan's order. The first is the port used when none is named.
std::vector<FoundPort> PortsInOrder(const PortScanResult& scan);

// The serial number of the adapter on `port` (a name or its path: ttyUSB0
// or /dev/ttyUSB0) among `ports`; "" when none of them is known to be it.
std::string SerialOfPort(const std::vector<FoundPort>& ports, const std::string& port);

// What a person is told when the scan met a read failure.
std::string ScanFailureText(const SystemError& e);

// The scan of this machine: of the registry export that the environment
// variable KRX3_REGISTRY names, when it names one (a demonstration, a test,
// a machine recorded elsewhere), otherwise of PlatformRegistry(). An export
// that cannot be read or is not one comes back as the scan's error, with
// no ports.
PortScanResult ScanMachinePorts();
