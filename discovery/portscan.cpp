#include "portscan.h"

#include <algorithm>
#include <cstdio>

namespace {

const char kSerialMapKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\";
const char kFtdiKey[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\";
const char kDeviceParameters[] = "\\0000\\Device Parameters\\";

const int kVendor = 403;
const int kProduct = 6015;

struct MatchResult {
    bool found = false;
    int vendor = 0;
    int product = 0;
};

bool HasValue(const std::vector<std::string>& names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Whether the FTDI device entries put `port` on the device's adapter. Every
// device is compared with its own "PortName", whatever the order of its
// values: the order in which Windows lists them is not fixed. A device takes
// part only when it also has "LatencyTimer", as the FTDI driver's entries do.
// The IDs are read the way the tool always read them, as decimal numbers
// ("0403" is 403, "601C" stops at the letter and is 601), and of several
// devices naming the port the last one decides.
bool PortMatches(RegistrySource& source, const std::string& port) {
    MatchResult result;
    std::unique_ptr<TRegistry> reg = source.Open();
    if (!reg->KeyExists(kFtdiKey)) return false;

    std::vector<std::string> device_paths;
    if (reg->OpenKey(kFtdiKey)) {
        for (const std::string& device : reg->GetKeyNames()) device_paths.push_back(device + kDeviceParameters);
    }
    reg->CloseKey();

    for (const std::string& device_path : device_paths) {
        if (!reg->OpenKey(kFtdiKey + device_path)) continue;
        std::vector<std::string> names = reg->GetValueNames();
        if (HasValue(names, "LatencyTimer") && HasValue(names, "PortName") &&
            reg->GetDataAsString("PortName") == port) {
            int vendor = 0;
            int product = 0;
            if (std::sscanf(device_path.c_str(), "VID_%04d+PID_%04d", &vendor, &product) == 2) {
                result = {true, vendor, product};
            } else {
                result = MatchResult();
            }
        }
        reg->CloseKey();
    }
    return result.found && result.vendor == kVendor && result.product == kProduct;
}

}  // namespace

PortScanResult ScanPorts(RegistrySource& source) {
    PortScanResult scan;
    std::unique_ptr<TRegistry> reg = source.Open();
    if (!reg->KeyExists(kSerialMapKey)) return scan;
    scan.map_exists = true;
    if (reg->OpenKey(kSerialMapKey)) {
        for (const std::string& name : reg->GetValueNames()) {
            std::string port = reg->GetDataAsString(name);
            if (PortMatches(source, port)) scan.ports.push_back(port);
        }
    }
    reg->CloseKey();
    return scan;
}
