// Finding the serial ports of the device's USB-serial adapter (an FTDI chip,
// vendor ID 0403, product ID 6015) from the registry.
#pragma once

#include <string>
#include <vector>

#include "registry.h"

struct PortScanResult {
    // False when the serial port map key does not exist at all.
    bool map_exists = false;
    // The matching ports, in the order of the serial port map.
    std::vector<std::string> ports;
};

// Reads "HARDWARE\DEVICEMAP\SERIALCOMM\" for the machine's serial ports and
// "SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\0000\Device Parameters\"
// for the FTDI devices. A port matches when a device with a "LatencyTimer"
// value names it in its own "PortName" value and the device's key name reads
// as VID 403 and PID 6015 with "VID_%04d+PID_%04d" (decimal, up to four
// digits each); of several devices naming the port, the last decides.
PortScanResult ScanPorts(RegistrySource& source);
