// sysfs values: whatever an adapter's attribute files hold (vendor, product,
// serial number, latency timer), the scan reads them without a failure, its
// key names hold no backslash or control character, exactly the adapter
// that calls itself 0403:6015 is the device's, and its serial number comes
// back whole.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "discovery/portscan.h"
#include "discovery/registry.h"
#include "fuzz_check.h"

namespace fs = std::filesystem;

namespace {

// One USB serial adapter with its tty, laid out as the kernel does it.
const fs::path kTree = [] {
    const fs::path r = fs::temp_directory_path() / ("krx3-fuzz-sysfs-" + std::to_string(::getpid()));
    const fs::path usb = r / "devices/pci0000:00/usb1/1-1", tty = usb / "1-1:1.0/ttyUSB0";
    fs::create_directories(tty);
    fs::create_directories(r / "class/tty");
    fs::create_directory_symlink(tty, r / "class/tty/ttyUSB0");
    fs::create_directory_symlink(tty, tty / "device");
    return r;
}();

void Put(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

// The first line without the white space at its end, as sysfs is read.
std::string Attribute(const std::string& text) {
    const std::string line = text.substr(0, text.find('\n'));
    return line.substr(0, line.find_last_not_of(" \t\r\n") + 1);  // (npos + 1 is 0)
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Vendor, product, serial and latency, separated by NUL bytes.
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::string field[4];
    for (std::string& f : field) std::getline(in, f, '\0');
    const fs::path usb = kTree / "devices/pci0000:00/usb1/1-1";
    Put(usb / "idVendor", field[0]);
    Put(usb / "idProduct", field[1]);
    Put(usb / "serial", field[2]);
    Put(usb / "1-1:1.0/ttyUSB0/latency_timer", field[3]);

    const PortScanResult scan = ScanPorts(*SysfsRegistry(kTree.string()));
    FUZZ_CHECK(!scan.error.Failed() && scan.map_exists);
    FUZZ_CHECK(scan.serials.size() == scan.ports.size());
    for (const std::string& serial : scan.serials)
        for (char c : serial) FUZZ_CHECK(c != '\\' && static_cast<unsigned char>(c) >= 0x20);
    // Four hex digits each, as sysfs writes them: the device's adapter or not.
    const std::string vendor = Attribute(field[0]), product = Attribute(field[1]);
    const auto hex4 = [](const std::string& id) {
        return id.size() == 4 && id.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    };
    if (hex4(vendor) && hex4(product)) {
        const bool ours = vendor == "0403" && product == "6015";
        FUZZ_CHECK(scan.ports.size() == (ours ? 1u : 0u));
        FUZZ_CHECK(!ours || scan.ports[0] == "/dev/ttyUSB0");
        // Its serial number comes back whole, whatever it holds ('+' is
        // the key name's separator): as long as the attribute, every
        // letter and digit in its place.
        const std::string serial = Attribute(field[2]);
        if (ours && !serial.empty()) {
            FUZZ_CHECK(scan.serials[0].size() == serial.size());
            for (std::size_t i = 0; i < serial.size(); ++i)
                FUZZ_CHECK(!std::isalnum(static_cast<unsigned char>(serial[i])) || scan.serials[0][i] == serial[i]);
        }
    }
    return 0;
}
