#include "portscan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Ports = std::vector<std::string>;

std::string SerialMap(const Ports& ports) {
    std::string text = "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        text += "\"\\\\Device\\\\VCP" + std::to_string(i) + "\"=\"" + ports[i] + "\"\n";
    }
    return text + "\n";
}

// One FTDI device entry; `values` are the lines of its parameter key.
std::string Device(const std::string& subkey, const std::string& values, const std::string& instance = "0000") {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\" + subkey + "\\" + instance +
           "\\Device Parameters]\n" + values + "\n";
}

std::string Names(const std::string& port) {
    return "\"PortName\"=\"" + port + "\"\n\"LatencyTimer\"=dword:00000010\n";
}

const std::string kLatencyOnly = "\"LatencyTimer\"=dword:00000010\n";
const std::string kGood = Device("VID_0403+PID_6015+A1A", Names("COM3"));

TEST(PortScan, RecordedMachines) {
    const struct {
        std::string file;
        Ports ports;
    } cases[] = {
        // COM1 has no device, COM4 is a PID 6001 cable, COM7 no device names.
        {"typical.reg", {"COM3", "COM10"}},
        // Devices listing their values in either order, each compared with
        // its own port name.
        {"mixed_order.reg", {"COM3", "COM4"}},
    };
    for (const auto& c : cases) {
        PortScanResult result = ScanPorts(*RecordedRegistry(std::string(KRX_DISCOVERY_DATA) + "/" + c.file));
        EXPECT_TRUE(result.map_exists) << c.file;
        EXPECT_EQ(result.ports, c.ports) << c.file;
    }
}

TEST(PortScan, DeviceEntries) {
    const struct {
        std::string why, body;
        Ports ports;
    } cases[] = {
        // Compared with the first device's port name, the PID 6001 cable
        // listing its latency timer first would take COM3 away.
        {"foreign device after a match",
         SerialMap({"COM3", "COM4"}) + kGood +
             Device("VID_0403+PID_6001+B2A", kLatencyOnly + "\"PortName\"=\"COM4\"\n"),
         {"COM3"}},
        // Neither the empty name of a port whose map data is empty, nor the
        // port name of the device before it.
        {"device without a port name",
         SerialMap({"", "COM3"}) + kGood + Device("VID_0403+PID_6015+B2A", kLatencyOnly) +
             Device("VID_0403+PID_6001+C3A", kLatencyOnly),
         {"COM3"}},
        {"no latency timer", SerialMap({"COM3"}) + Device("VID_0403+PID_6015+A1A", "\"PortName\"=\"COM3\"\n"), {}},
        {"port name case", SerialMap({"COM3"}) + Device("VID_0403+PID_6015+A1A", Names("com3")), {}},
        {"6001 decides last", SerialMap({"COM3"}) + kGood + Device("VID_0403+PID_6001+B2A", Names("COM3")), {}},
        {"6015 decides last", SerialMap({"COM3"}) + Device("VID_0403+PID_6001+B2A", Names("COM3")) + kGood, {"COM3"}},
        {"unparsable path clears", SerialMap({"COM3"}) + kGood + Device("ROOT_FTDI0000", Names("COM3")), {}},
        {"other ports keep the match",
         SerialMap({"COM3"}) + kGood + Device("ROOT_FTDI0000", Names("COM8")) +
             Device("VID_0403+PID_6001+B2A", Names("COM9")),
         {"COM3"}},
        // Ids read as decimal up to four digits: "601C" reads 601, and
        // 0x0403 is not 403.
        {"601C", SerialMap({"COM3"}) + Device("VID_0403+PID_601C+A1A", Names("COM3")), {}},
        {"VID 1027", SerialMap({"COM3"}) + Device("VID_1027+PID_6015+A1A", Names("COM3")), {}},
        {"PID 6015 and a fifth digit", SerialMap({"COM3"}) + Device("VID_0403+PID_60150", Names("COM3")), {"COM3"}},
        {"VID 403", SerialMap({"COM3"}) + Device("VID_403+PID_6015", Names("COM3")), {"COM3"}},
        {"instance 0001", SerialMap({"COM3"}) + Device("VID_0403+PID_6015+A1A", Names("COM3"), "0001"), {}},
    };
    for (const auto& c : cases) {
        PortScanResult result =
            ScanPorts(*RecordedRegistryFromText("Windows Registry Editor Version 5.00\n\n" + c.body));
        EXPECT_TRUE(result.map_exists) << c.why;
        EXPECT_EQ(result.ports, c.ports) << c.why;
    }
    EXPECT_FALSE(ScanPorts(*RecordedRegistryFromText("Windows Registry Editor Version 5.00\n\n" + kGood)).map_exists);
}

}  // namespace
