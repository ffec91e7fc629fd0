#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "portscan.h"
#include "registry.h"
#include "registry_dump.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

const std::string kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::string kFtdi = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

// A small sysfs tree laid out as the kernel does: /sys/class/tty/<tty> links
// to the tty's directory under /sys/devices, whose `device` link points at
// the hardware behind it (relative links, as in sysfs).
class FakeSysfs {
public:
    FakeSysfs() {
        root_ = fs::temp_directory_path() / ("krx_sysfs_" + std::to_string(std::random_device()()));
        fs::create_directories(root_ / "class" / "tty");
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string root() const { return root_.string(); }

    // A tty whose device is the directory `device` (relative to devices/),
    // or none when `device` is empty.
    void AddTty(const std::string& tty, const std::string& device) {
        fs::path dir = device.empty() ? fs::path("virtual") / "tty" / tty : fs::path(device) / "tty" / tty;
        fs::create_directories(root_ / "devices" / dir);
        if (!device.empty()) {
            fs::create_directory_symlink(fs::path("..") / ".." / ".." / fs::path(device).filename(),
                                         root_ / "devices" / dir / "device");
        }
        fs::create_directory_symlink(fs::path("..") / ".." / "devices" / dir, root_ / "class" / "tty" / tty);
    }

    // A USB serial port: the USB device at `usb` with its interface 1.0 and,
    // for a usb-serial driver, a port directory named after the tty.
    void AddUsbTty(const std::string& tty, const std::string& usb, const std::string& vid, const std::string& pid,
                   const std::string& serial, bool usb_serial_port, const std::string& latency) {
        fs::path usb_dir = fs::path("pci0000:00") / "0000:00:14.0" / "usb1" / usb;
        fs::create_directories(root_ / "devices" / usb_dir);
        Write(usb_dir / "idVendor", vid + "\n");
        Write(usb_dir / "idProduct", pid + "\n");
        if (!serial.empty()) Write(usb_dir / "serial", serial + "\n");
        fs::path iface = usb_dir / (usb + ":1.0");
        fs::create_directories(root_ / "devices" / iface);
        Write(iface / "bInterfaceNumber", "00\n");
        fs::path device = usb_serial_port ? iface / tty : iface;
        fs::create_directories(root_ / "devices" / device);
        if (!latency.empty()) Write(device / "latency_timer", latency + "\n");
        AddTty(tty, device.string());
    }

    void Write(const fs::path& file, const std::string& text) { std::ofstream(root_ / "devices" / file) << text; }

private:
    fs::path root_;
};

// The value names (or, with keys, the subkey names) of one key.
Names Listed(RegistrySource& source, const std::string& key, bool keys = false) {
    auto reg = source.Open();
    EXPECT_TRUE(reg->OpenKey(key)) << key;
    return keys ? reg->GetKeyNames() : reg->GetValueNames();
}

class SysfsMachine : public ::testing::Test {
protected:
    void SetUp() override {
        sys.AddTty("tty0", "");
        sys.AddTty("ttyS0", "platform/serial8250");
        sys.AddTty("ttyS10", "platform/serial8250");
        sys.AddTty("ttyS2", "platform/serial8250");
        // A two-port chip: one USB device with a serial number, two ttys.
        sys.AddUsbTty("ttyUSB0", "1-1", "0403", "6015", "DA01\\AB", true, "1");
        sys.AddTty("ttyUSB3", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.1/ttyUSB3");
        sys.AddUsbTty("ttyUSB1", "1-2", "0403", "6001", "", true, "");
        sys.AddUsbTty("ttyACM0", "1-3", "1a86", "55d4", "5&2a1", false, "");
        source = SysfsRegistry(sys.root());
    }

    FakeSysfs sys;
    std::unique_ptr<RegistrySource> source;
};

// Ports sharing a name get the next letter; a backslash cannot be part of a
// key name. Without the driver's attribute the latency timer is the FTDI
// default. Each scan sees the tree as it is now.
TEST_F(SysfsMachine, SerialMapFtdiEntriesAndScanAsWindowsShowsThem) {
    EXPECT_EQ(Listed(*source, kMap),
              (Names{"\\Device\\ttyACM0", "\\Device\\ttyS0", "\\Device\\ttyS2", "\\Device\\ttyS10", "\\Device\\ttyUSB0",
                     "\\Device\\ttyUSB1", "\\Device\\ttyUSB3"}));
    EXPECT_EQ(Listed(*source, kFtdi, true), (Names{"VID_1A86+PID_55D4+5&2a1A", "VID_0403+PID_6015+DA01_ABA",
                                                   "VID_0403+PID_6001+A", "VID_0403+PID_6015+DA01_ABB"}));
    const std::string ftdi = "[" + kFtdi + "\\VID_0403+PID_60";
    EXPECT_EQ(Dump(*source, kFtdi + "\\VID_0403+PID_6015+DA01_ABA") + Dump(*source, kFtdi + "\\VID_0403+PID_6001+A"),
              ftdi + "15+DA01_ABA]\n" + ftdi + "15+DA01_ABA\\0000]\n" + ftdi +
                  "15+DA01_ABA\\0000\\Device Parameters]\n\"PortName\"=\"/dev/ttyUSB0\"\n\"LatencyTimer\"=\"1\"\n" +
                  ftdi + "01+A]\n" + ftdi + "01+A\\0000]\n" + ftdi +
                  "01+A\\0000\\Device Parameters]\n\"PortName\"=\"/dev/ttyUSB1\"\n\"LatencyTimer\"=\"16\"\n");
    auto reg = source->Open();
    ASSERT_TRUE(reg->OpenKey(kMap));
    EXPECT_EQ(reg->GetDataAsString("\\device\\TTYUSB0"), "/dev/ttyUSB0");

    PortScanResult result = ScanPorts(*source);
    EXPECT_TRUE(result.map_exists);
    EXPECT_EQ(result.ports, (Names{"/dev/ttyUSB0", "/dev/ttyUSB3"}));
    sys.AddUsbTty("ttyUSB2", "1-4", "0403", "6015", "DA02", true, "");
    EXPECT_EQ(ScanPorts(*source).ports, (Names{"/dev/ttyUSB0", "/dev/ttyUSB2", "/dev/ttyUSB3"}));
}

TEST(SysfsRegistryRoot, MapExistsOnlyWithTheTtyClass) {
    FakeSysfs sys;
    auto empty = SysfsRegistry(sys.root());
    EXPECT_TRUE(ScanPorts(*empty).map_exists);
    EXPECT_TRUE(Listed(*empty, kMap).empty());
    EXPECT_TRUE(Listed(*empty, kFtdi, true).empty());

    auto missing = SysfsRegistry(sys.root() + "/nowhere");
    EXPECT_FALSE(ScanPorts(*missing).map_exists);
    EXPECT_EQ(Dump(*missing), "[]\n");
}

}  // namespace
