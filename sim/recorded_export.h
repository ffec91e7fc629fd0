// A machine's serial port map and FTDI device entries as a registry export
// (the form the port scan reads), written for a test or by the simulator.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// The entry of an adapter device `key` (such as "VID_0403+PID_6015+A") whose
// port is `port`.
inline std::string RecordedAdapter(const std::string& key, const std::string& port) {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\" + key +
           "\\0000\\Device Parameters]\n\"PortName\"=\"" + port + "\"\n\"LatencyTimer\"=dword:00000010\n\n";
}

// An export whose serial port map holds `ports`, followed by `adapters`.
inline std::string RecordedExport(const std::vector<std::string>& ports, const std::string& adapters) {
    std::string text =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n";
    for (std::size_t i = 0; i < ports.size(); ++i)
        text += "\"\\\\Device\\\\VCP" + std::to_string(i) + "\"=\"" + ports[i] + "\"\n";
    return text + "\n" + adapters;
}

// Writes an export whole: under a temporary name first, then renamed over
// `path` (POSIX), so that a scan running meanwhile never reads half of it.
// False when it could not.
inline bool WriteWhole(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    if (!(std::ofstream(temporary, std::ios::binary) << text)) return false;
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}
