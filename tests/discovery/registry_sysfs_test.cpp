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

    void Write(const fs::path& file, const std::string& text) {
        std::ofstream(root_ / "devices" / file) << text;
    }

private:
    fs::path root_;
};

Names ValueNames(RegistrySource& source, const std::string& key) {
    auto reg = source.Open();
    EXPECT_TRUE(reg->OpenKey(key)) << key;
    return reg->GetValueNames();
}

Names KeyNames(RegistrySource& source, const std::string& key) {
    auto reg = source.Open();
    EXPECT_TRUE(reg->OpenKey(key)) << key;
    return reg->GetKeyNames();
}

std::string Data(RegistrySource& source, const std::string& key, const std::string& name) {
    auto reg = source.Open();
    EXPECT_TRUE(reg->OpenKey(key)) << key;
    return reg->GetDataAsString(name);
}

class SysfsMachine : public ::testing::Test {
protected:
    void SetUp() override {
        sys.AddTty("tty0", "");
        sys.AddTty("ttyS0", "platform/serial8250");
        sys.AddTty("ttyS10", "platform/serial8250");
        sys.AddTty("ttyS2", "platform/serial8250");
        sys.AddUsbTty("ttyUSB0", "1-1", "0403", "6015", "DA01ABCD", true, "1");
        sys.AddUsbTty("ttyUSB1", "1-2", "0403", "6001", "", true, "");
        sys.AddUsbTty("ttyACM0", "1-3", "1a86", "55d4", "5&2a1", false, "");
        source = SysfsRegistry(sys.root());
    }

    FakeSysfs sys;
    std::unique_ptr<RegistrySource> source;
};

TEST_F(SysfsMachine, ScanFindsOnlyTheDeviceAdapterAndSeesTheTreeAsItIsNow) {
    PortScanResult result = ScanPorts(*source);
    EXPECT_TRUE(result.map_exists);
    EXPECT_EQ(result.ports, (Names{"/dev/ttyUSB0"}));
    sys.AddUsbTty("ttyUSB2", "1-4", "0403", "6015", "DA02", true, "");
    EXPECT_EQ(ScanPorts(*source).ports, (Names{"/dev/ttyUSB0", "/dev/ttyUSB2"}));
}

TEST_F(SysfsMachine, SerialMapAndFtdiEntriesAsWindowsNamesThem) {
    EXPECT_EQ(ValueNames(*source, kMap), (Names{"\\Device\\ttyACM0", "\\Device\\ttyS0", "\\Device\\ttyS2",
                                                "\\Device\\ttyS10", "\\Device\\ttyUSB0", "\\Device\\ttyUSB1"}));
    EXPECT_EQ(Data(*source, kMap, "\\device\\TTYUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(KeyNames(*source, kFtdi),
              (Names{"VID_1A86+PID_55D4+5&2a1A", "VID_0403+PID_6015+DA01ABCDA", "VID_0403+PID_6001+A"}));
    const std::string adapter = kFtdi + "\\VID_0403+PID_6015+DA01ABCDA";
    EXPECT_EQ(KeyNames(*source, adapter), (Names{"0000"}));
    EXPECT_EQ(KeyNames(*source, adapter + "\\0000"), (Names{"Device Parameters"}));
    const std::string params = adapter + "\\0000\\Device Parameters";
    EXPECT_EQ(ValueNames(*source, params), (Names{"PortName", "LatencyTimer"}));
    EXPECT_EQ(Data(*source, params, "PortName"), "/dev/ttyUSB0");
    EXPECT_EQ(Data(*source, params, "LatencyTimer"), "1");
    // Without the driver's attribute, the FTDI default.
    EXPECT_EQ(Data(*source, kFtdi + "\\VID_0403+PID_6001+A\\0000\\Device Parameters", "LatencyTimer"), "16");
    EXPECT_EQ(Data(*source, kFtdi + "\\VID_1A86+PID_55D4+5&2a1A\\0000\\Device Parameters", "PortName"),
              "/dev/ttyACM0");
}

TEST(SysfsRegistryNames, PortsSharingANameGetTheNextLetter) {
    // A two-port chip: one USB device with a serial number, two ttys.
    FakeSysfs sys;
    sys.AddUsbTty("ttyUSB0", "1-1", "0403", "6010", "FT12\\34", true, "");
    fs::path second = fs::path("pci0000:00") / "0000:00:14.0" / "usb1" / "1-1" / "1-1:1.1" / "ttyUSB1";
    fs::create_directories(fs::path(sys.root()) / "devices" / second);
    sys.AddTty("ttyUSB1", second.string());
    auto source = SysfsRegistry(sys.root());
    EXPECT_EQ(KeyNames(*source, kFtdi), (Names{"VID_0403+PID_6010+FT12_34A", "VID_0403+PID_6010+FT12_34B"}));
    EXPECT_EQ(Data(*source, kFtdi + "\\VID_0403+PID_6010+FT12_34B\\0000\\Device Parameters", "PortName"),
              "/dev/ttyUSB1");
}

TEST(SysfsRegistryRoot, MapExistsOnlyWithTheTtyClass) {
    FakeSysfs sys;
    auto empty = SysfsRegistry(sys.root());
    PortScanResult result = ScanPorts(*empty);
    EXPECT_TRUE(result.map_exists);
    EXPECT_TRUE(result.ports.empty());
    EXPECT_TRUE(ValueNames(*empty, kMap).empty());
    EXPECT_TRUE(KeyNames(*empty, kFtdi).empty());

    auto missing = SysfsRegistry(sys.root() + "/nowhere");
    EXPECT_FALSE(ScanPorts(*missing).map_exists);
    EXPECT_EQ(Dump(*missing), "[]\n");
}

}  // namespace
