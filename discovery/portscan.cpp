#include "portscan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "base/port_name.h"
#include "base/stringlist.h"

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
    std::string serial;
};

bool HasValue(const std::vector<std::string>& names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Keeps the first read failure of the scan.
void KeepFirstError(SystemError& first, const TRegistry& reg) {
    if (!first.Failed()) first = reg.Error();
}

// The serial number in a device key's name: its third '+'-separated field
// without the port letter the driver appends.
std::string SerialOf(const std::string& device) {
    const std::size_t first = device.find('+');
    const std::size_t second = first == std::string::npos ? first : device.find('+', first + 1);
    if (second == std::string::npos) return std::string();
    std::string field = device.substr(second + 1, device.find('+', second + 1) - (second + 1));
    if (field.size() <= 1) return std::string();
    field.pop_back();
    return field;
}

// Which of the FTDI device entries puts `port` on its adapter. Every device
// is compared with its own "PortName", whatever the order of its values: the
// order in which Windows lists them is not fixed. A device takes part only
// when it also has "LatencyTimer", as the FTDI driver's entries do. The IDs
// are read the way the tool always read them, as decimal numbers ("0403" is
// 403, "601C" stops at the letter and is 601), and of several devices naming
// the port the last one decides.
MatchResult DeviceOf(TRegistry& reg, const std::string& port) {
    MatchResult result;
    if (!reg.KeyExists(kFtdiKey)) return result;

    std::vector<std::string> devices;
    if (reg.OpenKey(kFtdiKey)) devices = reg.GetKeyNames();
    reg.CloseKey();

    for (const std::string& device : devices) {
        const std::string device_path = device + kDeviceParameters;
        if (!reg.OpenKey(kFtdiKey + device_path)) continue;
        std::vector<std::string> names = reg.GetValueNames();
        if (HasValue(names, "LatencyTimer") && HasValue(names, "PortName") && reg.GetDataAsString("PortName") == port) {
            int vendor = 0;
            int product = 0;
            if (std::sscanf(device_path.c_str(), "VID_%04d+PID_%04d", &vendor, &product) == 2) {
                result = {true, vendor, product, SerialOf(device)};
            } else {
                result = MatchResult();
            }
        }
        reg.CloseKey();
    }
    return result;
}

// Whether the FTDI device entries put `port` on the device's adapter; the
// adapter's serial number goes to `serial`, a read failure to `error`.
bool PortMatches(RegistrySource& source, const std::string& port, std::string& serial, SystemError& error) {
    std::unique_ptr<TRegistry> reg = source.Open();
    MatchResult result = DeviceOf(*reg, port);
    KeepFirstError(error, *reg);
    if (!result.found || result.vendor != kVendor || result.product != kProduct) return false;
    serial = result.serial;
    return true;
}

}  // namespace

PortScanResult ScanPorts(RegistrySource& source) {
    PortScanResult scan;
    std::unique_ptr<TRegistry> reg = source.Open();
    scan.map_exists = reg->KeyExists(kSerialMapKey);
    if (scan.map_exists && reg->OpenKey(kSerialMapKey)) {
        for (const std::string& name : reg->GetValueNames()) {
            std::string port = reg->GetDataAsString(name);
            KeepFirstError(scan.error, *reg);
            std::string serial;
            if (PortMatches(source, port, serial, scan.error)) {
                scan.ports.push_back(port);
                scan.serials.push_back(serial);
            }
        }
    }
    reg->CloseKey();
    KeepFirstError(scan.error, *reg);
    return scan;
}

std::vector<FoundPort> PortsInOrder(const PortScanResult& scan) {
    std::vector<FoundPort> ports;
    for (std::size_t i = 0; i < scan.ports.size(); ++i)
        ports.push_back({scan.ports[i], i < scan.serials.size() ? scan.serials[i] : std::string()});
    std::stable_sort(ports.begin(), ports.end(),
                     [](const FoundPort& a, const FoundPort& b) { return TStringList::Compare(a.name, b.name) < 0; });
    return ports;
}

std::string SerialOfPort(const std::vector<FoundPort>& ports, const std::string& port) {
    for (const FoundPort& p : ports)
        if (!p.serial.empty() && SamePort(p.name, port)) return p.serial;
    return std::string();
}

std::string ScanFailureText(const SystemError& e) { return "The serial ports could not be read: " + e.text; }

PortScanResult ScanMachinePorts() {
    const char* recorded = std::getenv("KRX3_REGISTRY");
    if (!recorded || !*recorded) return ScanPorts(*PlatformRegistry());
    try {
        return ScanPorts(*RecordedRegistry(recorded));
    } catch (const std::exception& e) {
        PortScanResult failed;
        failed.error.code = -1;
        failed.error.text = e.what();
        return failed;
    }
}
