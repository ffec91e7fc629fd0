#include "portscan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Ports = std::vector<std::string>;

const std::string kData = KRX_DISCOVERY_DATA;

std::string SerialMap(const Ports& ports) {
    std::string text = "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        text += "\"\\\\Device\\\\VCP" + std::to_string(i) + "\"=\"" + ports[i] + "\"\n";
    }
    return text + "\n";
}

// One FTDI device entry; `values` are the lines of its parameter key.
std::string Device(const std::string& subkey, const std::string& values) {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\" + subkey + "\\0000\\Device Parameters]\n" +
           values + "\n";
}

std::string Names(const std::string& port) {
    return "\"PortName\"=\"" + port + "\"\n\"LatencyTimer\"=dword:00000010\n";
}

PortScanResult Scan(const std::string& body) {
    auto source = RecordedRegistryFromText("Windows Registry Editor Version 5.00\n\n" + body);
    return ScanPorts(*source);
}

PortScanResult ScanFile(const std::string& name) {
    auto source = RecordedRegistry(kData + "/" + name);
    return ScanPorts(*source);
}

TEST(PortScanMachines, ListsTheDeviceAdaptersInSerialMapOrder) {
    // COM1 has no device, COM4 is a PID 6001 cable, COM7 no device names.
    PortScanResult result = ScanFile("typical.reg");
    EXPECT_TRUE(result.map_exists);
    EXPECT_EQ(result.ports, (Ports{"COM3", "COM10"}));
}

TEST(PortScanMachines, Utf16ExportScansLikeItsEightBitTwin) {
    PortScanResult result = ScanFile("typical_utf16.reg");
    EXPECT_TRUE(result.map_exists);
    EXPECT_EQ(result.ports, (Ports{"COM3", "COM10"}));
}

TEST(PortScanMachines, KeyNamesMatchWhateverTheirCase) {
    PortScanResult result = ScanFile("lower_case_keys.reg");
    EXPECT_TRUE(result.map_exists);
    EXPECT_EQ(result.ports, (Ports{"COM6"}));
}

TEST(PortScanValueOrder, OnlyDeviceWithLatencyTimerFirstIsListed) {
    EXPECT_EQ(ScanFile("latency_first.reg").ports, (Ports{"COM5"}));
}

TEST(PortScanValueOrder, EachDeviceIsComparedWithItsOwnPortName) {
    EXPECT_EQ(ScanFile("mixed_order.reg").ports, (Ports{"COM3", "COM4"}));
}

TEST(PortScanValueOrder, ForeignDeviceIsNotComparedWithThePreviousDevicesPort) {
    // The second device, a PID 6001 cable on COM4, lists its latency timer
    // first; compared with the first device's port name it would take COM3
    // away from the device's adapter.
    std::string body = SerialMap({"COM3", "COM4"}) + Device("VID_0403+PID_6015+A1A", Names("COM3")) +
                       Device("VID_0403+PID_6001+B2A", "\"LatencyTimer\"=dword:00000010\n\"PortName\"=\"COM4\"\n");
    EXPECT_EQ(Scan(body).ports, (Ports{"COM3"}));
}

TEST(PortScanValueOrder, DeviceWithoutPortNameMatchesNothing) {
    // Neither the empty name of a port whose map data is empty, nor the
    // port name of the device before it.
    std::string latency_only = "\"LatencyTimer\"=dword:00000010\n";
    std::string body = SerialMap({"", "COM3"}) + Device("VID_0403+PID_6015+A1A", Names("COM3")) +
                       Device("VID_0403+PID_6015+B2A", latency_only) + Device("VID_0403+PID_6001+C3A", latency_only);
    EXPECT_EQ(Scan(body).ports, (Ports{"COM3"}));
}

TEST(PortScanDevices, DeviceWithoutLatencyTimerDoesNotMatch) {
    std::string body = SerialMap({"COM3"}) + Device("VID_0403+PID_6015+A1A", "\"PortName\"=\"COM3\"\n");
    EXPECT_TRUE(Scan(body).ports.empty());
}

TEST(PortScanDevices, PortNameComparesCaseSensitively) {
    std::string body = SerialMap({"COM3"}) + Device("VID_0403+PID_6015+A1A", Names("com3"));
    EXPECT_TRUE(Scan(body).ports.empty());
}

TEST(PortScanDevices, LastDeviceNamingThePortDecides) {
    std::string good = Device("VID_0403+PID_6015+A1A", Names("COM3"));
    std::string other = Device("VID_0403+PID_6001+B2A", Names("COM3"));
    EXPECT_TRUE(Scan(SerialMap({"COM3"}) + good + other).ports.empty());
    EXPECT_EQ(Scan(SerialMap({"COM3"}) + other + good).ports, (Ports{"COM3"}));
}

TEST(PortScanDevices, UnparsableDevicePathAfterAMatchClearsIt) {
    std::string body = SerialMap({"COM3"}) + Device("VID_0403+PID_6015+A1A", Names("COM3")) +
                       Device("ROOT_FTDI0000", Names("COM3"));
    EXPECT_TRUE(Scan(body).ports.empty());
}

TEST(PortScanDevices, DevicesNamingOtherPortsDoNotClearAMatch) {
    std::string body = SerialMap({"COM3"}) + Device("VID_0403+PID_6015+A1A", Names("COM3")) +
                       Device("ROOT_FTDI0000", Names("COM8")) + Device("VID_0403+PID_6001+B2A", Names("COM9"));
    EXPECT_EQ(Scan(body).ports, (Ports{"COM3"}));
}

TEST(PortScanDevices, IdsReadAsDecimalUpToFourDigits) {
    // "601C" stops at the letter and reads 601; 0x0403 is not 403.
    EXPECT_TRUE(Scan(SerialMap({"COM3"}) + Device("VID_0403+PID_601C+A1A", Names("COM3"))).ports.empty());
    EXPECT_TRUE(Scan(SerialMap({"COM3"}) + Device("VID_1027+PID_6015+A1A", Names("COM3"))).ports.empty());
    EXPECT_TRUE(Scan(SerialMap({"COM3"}) + Device("VID_04030+PID_6015+A1A", Names("COM3"))).ports.empty());
    EXPECT_EQ(Scan(SerialMap({"COM3"}) + Device("VID_403+PID_6015", Names("COM3"))).ports, (Ports{"COM3"}));
}

TEST(PortScanDevices, OnlyInstanceZeroIsLookedAt) {
    std::string body = SerialMap({"COM3"}) +
                       "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6015+A1A\\0001\\"
                       "Device Parameters]\n" +
                       Names("COM3");
    EXPECT_TRUE(Scan(body).ports.empty());
}

TEST(PortScanMissingKeys, NoSerialMapKey) {
    PortScanResult result = Scan(Device("VID_0403+PID_6015+A1A", Names("COM3")));
    EXPECT_FALSE(result.map_exists);
    EXPECT_TRUE(result.ports.empty());
}

TEST(PortScanMissingKeys, SerialMapWithoutValues) {
    PortScanResult result = Scan(SerialMap({}) + Device("VID_0403+PID_6015+A1A", Names("COM3")));
    EXPECT_TRUE(result.map_exists);
    EXPECT_TRUE(result.ports.empty());
}

TEST(PortScanMissingKeys, NoFtdiKey) {
    PortScanResult result = Scan(SerialMap({"COM3"}));
    EXPECT_TRUE(result.map_exists);
    EXPECT_TRUE(result.ports.empty());
}

}  // namespace
