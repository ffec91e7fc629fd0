// The two registry keys the port scan reads, built from a sysfs tree so that
// the scan finds a real adapter on Linux:
//
//   HARDWARE\DEVICEMAP\SERIALCOMM
//       one value per tty in <root>/class/tty that has a `device` link (a
//       port backed by hardware, not a virtual console or pseudo-terminal),
//       named "\Device\<tty>" with the data "/dev/<tty>", in natural order of
//       the tty names (ttyS2 before ttyS10).
//   SYSTEM\CurrentControlSet\Enum\FTDIBUS\<adapter>\0000\Device Parameters
//       one adapter per such tty whose device sits below a USB device (a
//       directory with idVendor and idProduct), named as the Windows FTDI
//       driver names its entries: "VID_0403+PID_6015+<serial>A". When two
//       ports share that name (the ports of one multi-port chip, or adapters
//       without a serial number) the letter counts on, B, C, ..., as Windows
//       does for the ports of one chip. The key holds "PortName" = "/dev/<tty>"
//       followed by "LatencyTimer": the driver's setting from the port's
//       latency_timer attribute (ftdi_sio exposes it), or 16 ms, the FTDI
//       default, where the driver shows none.
//
// The keys exist only when <root>/class/tty does; a tree without it (no
// sysfs, or a wrong root) reads as a machine without the serial port map.
// Any other failure to read <root>/class/tty (not a directory, no right to
// read it, an I/O error) is the accessor's read failure: the keys then hold
// the ports listed before the failure, or are not there when the directory
// could not be read at all.
//
// Each accessor takes a fresh look at the tree, as each accessor of the
// Windows registry sees the registry as it is at that moment. The keys are
// built as a key tree (keytree.h), the same the recorded-registry reader
// fills, so both present keys and values the same way.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/system_error.h"
#include "keytree.h"
#include "registry.h"

namespace fs = std::filesystem;

namespace {

const char kDefaultLatencyTimer[] = "16";

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    if (!in || !std::getline(in, text)) return std::string();
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool IsFile(const fs::path& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec);
}

// Orders names with their digit runs compared as numbers: ttyS2 < ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

struct Port {
    std::string tty;
    fs::path device;  // the resolved `device` link
};

// The ports in `tty_class`, in natural order. False when the directory could
// not be opened; a failure other than its not being there, there or later in
// the listing, goes to `error`.
bool SerialPorts(const fs::path& tty_class, std::vector<Port>& ports, SystemError& error) {
    std::error_code ec;
    fs::directory_iterator it(tty_class, ec);
    if (ec) {
        SystemError failure = SystemErrorOf(ec.value());
        if (!IsNotThere(failure)) error = failure;
        return false;
    }
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code link_ec;
        fs::path device = fs::canonical(it->path() / "device", link_ec);
        if (link_ec) continue;
        ports.push_back({it->path().filename().string(), device});
    }
    if (ec) error = SystemErrorOf(ec.value());
    std::sort(ports.begin(), ports.end(), [](const Port& a, const Port& b) { return NaturalLess(a.tty, b.tty); });
    return true;
}

// The USB device a port belongs to: the nearest directory at or above the
// port's device that has idVendor and idProduct, not looking above `root`.
bool FindUsbDevice(const fs::path& device, const fs::path& root, fs::path& usb) {
    for (fs::path dir = device; !dir.empty(); dir = dir.parent_path()) {
        if (IsFile(dir / "idVendor") && IsFile(dir / "idProduct")) {
            usb = dir;
            return true;
        }
        if (dir == root || dir == dir.parent_path()) break;
    }
    return false;
}

// A key name can hold neither a backslash nor control characters, and a
// '+' inside a part would move the fields the scan reads from the name (the
// serial number is the third '+'-separated one).
std::string KeyNamePart(const std::string& text) {
    std::string out;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u > 0x7E || c == '\\' || c == '+') ? '_' : c;
    }
    return out;
}

std::string UsbId(const std::string& text) {
    std::string id;
    for (char c : text) id += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (id.size() < 4) id.insert(0, 4 - id.size(), '0');
    return KeyNamePart(id);
}

// The first of base + "A", "B", ..., "Z", "A2", "A3", ... that `bus` has no
// key of.
std::string UniqueName(const std::string& base, const RegistryKey& bus) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (!bus.Subkey(base + letter)) return base + letter;
    }
    for (int n = 2;; ++n) {
        std::string name = base + "A" + std::to_string(n);
        if (!bus.Subkey(name)) return name;
    }
}

struct Reading {
    std::shared_ptr<KeyTree> tree = std::make_shared<KeyTree>();
    SystemError error;
};

Reading ReadTree(const fs::path& root) {
    Reading reading;
    std::vector<Port> ports;
    if (!SerialPorts(root / "class" / "tty", ports, reading.error)) return reading;
    std::error_code ec;
    fs::path real_root = fs::canonical(root, ec);

    RegistryKey& map = reading.tree->Create("HARDWARE\\DEVICEMAP\\SERIALCOMM");
    for (const Port& port : ports) map.SetValue("\\Device\\" + port.tty, "/dev/" + port.tty);

    RegistryKey& bus = reading.tree->Create("SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS");
    for (const Port& port : ports) {
        fs::path usb;
        if (!FindUsbDevice(port.device, real_root, usb)) continue;
        std::string base = "VID_" + UsbId(ReadAttribute(usb / "idVendor")) + "+PID_" +
                           UsbId(ReadAttribute(usb / "idProduct")) + "+" + KeyNamePart(ReadAttribute(usb / "serial"));
        std::string latency = ReadAttribute(port.device / "latency_timer");
        if (latency.empty()) latency = kDefaultLatencyTimer;
        RegistryKey& parameters = bus.AddSubkey(UniqueName(base, bus)).AddSubkey("0000").AddSubkey("Device Parameters");
        parameters.SetValue("PortName", "/dev/" + port.tty);
        parameters.SetValue("LatencyTimer", latency);
    }
    return reading;
}

class SysfsSource final : public RegistrySource {
public:
    explicit SysfsSource(std::string root) : root_(std::move(root)) {}

    std::unique_ptr<TRegistry> Open() override {
        Reading reading = ReadTree(root_);
        return KeyTreeRegistry(std::move(reading.tree), std::move(reading.error));
    }

private:
    fs::path root_;
};

}  // namespace

std::unique_ptr<RegistrySource> SysfsRegistry(const std::string& root) { return std::make_unique<SysfsSource>(root); }
