// The Windows registry source and the port scan over the registry itself.
// Each test writes its own keys and values under HKEY_LOCAL_MACHINE with the
// Win32 calls and removes them again. Writing under Enum needs rights that
// only Wine grants a test program; on Windows these tests are skipped.
//
// Wine lists keys and values sorted by name, Windows in the order they were
// written, so listings are compared as sets here.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "portscan.h"
#include "registry.h"

namespace {

using Names = std::vector<std::string>;

const std::wstring kMap = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::wstring kFtdiBus = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

Names Sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

bool KeyPresent(const std::wstring& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

class RegistryWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        ftdibus_was_there_ = KeyPresent(kFtdiBus);
        HKEY h = nullptr;
        const LONG rc =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kFtdiBus.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
        if (rc == ERROR_ACCESS_DENIED) GTEST_SKIP() << "no right to write the device keys (Windows)";
        ASSERT_EQ(rc, ERROR_SUCCESS);
        RegCloseKey(h);
    }

    void TearDown() override {
        for (const auto& v : map_values_) {
            HKEY h = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMap.c_str(), 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
                RegDeleteValueW(h, v.c_str());
                RegCloseKey(h);
            }
        }
        for (const auto& k : devices_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kFtdiBus + L"\\" + k).c_str());
        if (!ftdibus_was_there_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFtdiBus.c_str());
        EXPECT_EQ(KeyPresent(kFtdiBus), ftdibus_was_there_) << "a test key was left behind";
    }

    static void Set(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD size) {
        // Keys under HARDWARE live only in memory, and so must their children.
        const DWORD options = key.rfind(L"HARDWARE\\", 0) == 0 ? REG_OPTION_VOLATILE : 0;
        HKEY h = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(h, name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(h);
    }
    static void SetText(const std::wstring& key, const std::wstring& name, const std::wstring& text,
                        bool terminated = true) {
        Set(key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + (terminated ? 1 : 0)) * 2));
    }
    static void SetDword(const std::wstring& key, const std::wstring& name, DWORD value) {
        Set(key, name, REG_DWORD, &value, sizeof value);
    }

    // A serial port in the machine's port map.
    void MapPort(const std::wstring& device, const std::wstring& port) {
        SetText(kMap, device, port);
        map_values_.push_back(device);
    }

    // The parameter key of an FTDI device; its values are added by the caller.
    std::wstring Device(const std::wstring& name) {
        devices_.push_back(name);
        return kFtdiBus + L"\\" + name + L"\\0000\\Device Parameters";
    }

    // A device of the wanted kind that names `port`.
    void Adapter(const std::wstring& name, const std::wstring& port) {
        const std::wstring key = Device(name);
        SetText(key, L"PortName", port);
        SetDword(key, L"LatencyTimer", 16);
    }

    static Names Found() {
        PortScanResult r = ScanPorts(*WindowsRegistry());
        EXPECT_TRUE(r.map_exists);
        return r.ports;
    }

    bool ftdibus_was_there_ = false;
    std::vector<std::wstring> map_values_;
    std::vector<std::wstring> devices_;
};

TEST_F(RegistryWin32, ScanFindsTheAdaptersOfTheRightKindOnly) {
    // \Device\KrxTest0 to 4 on COM41 to COM45.
    for (int i = 0; i < 5; ++i) MapPort(L"\\Device\\KrxTest" + std::to_wstring(i), L"COM4" + std::to_wstring(i + 1));
    Adapter(L"VID_0403+PID_6015+KRXT01A", L"COM41");
    Adapter(L"VID_0403+PID_6015+KRXT02A", L"COM43");
    // Another FTDI cable, a device without a latency timer and one whose
    // values are stored latency first: only the last of these is wanted.
    Adapter(L"VID_0403+PID_6001+KRXT03A", L"COM42");
    SetText(Device(L"VID_0403+PID_6015+KRXT04A"), L"PortName", L"COM44");
    const std::wstring late = Device(L"VID_0403+PID_6015+KRXT05A");
    SetDword(late, L"LatencyTimer", 2);
    SetText(late, L"PortName", L"COM45");

    EXPECT_EQ(Sorted(Found()), (Names{"COM41", "COM43", "COM45"}));

    // A port name stored without its terminating null reads the same.
    SetText(late, L"PortName", L"COM42", false);
    EXPECT_EQ(Sorted(Found()), (Names{"COM41", "COM42", "COM43"}));
}

TEST_F(RegistryWin32, AccessorReadsKeysAndValuesOfEveryType) {
    const std::wstring key = Device(L"VID_0403+PID_6015+KRXT11A");
    SetText(key, L"PortName", L"COM46");
    SetDword(key, L"LatencyTimer", 16);
    const ULONGLONG big = 0x123456789ULL;
    Set(key, L"Big", REG_QWORD, &big, sizeof big);
    const BYTE raw[] = {0x0F, 0xA0, 0x00};
    Set(key, L"Raw", REG_BINARY, raw, sizeof raw);
    const std::wstring expand = L"%SystemRoot%\\x";
    Set(key, L"Path", REG_EXPAND_SZ, expand.c_str(), static_cast<DWORD>((expand.size() + 1) * 2));
    const std::wstring long_text(5000, L'k');
    SetText(key, L"Long", long_text);

    auto reg = WindowsRegistry()->Open();
    const std::string path =
        "\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6015+KRXT11A\\0000\\Device Parameters\\";
    EXPECT_TRUE(reg->KeyExists(path));
    // Names compare without regard to case, as the registry does.
    EXPECT_TRUE(reg->KeyExists("system\\currentcontrolset\\enum\\ftdibus"));
    ASSERT_TRUE(reg->OpenKey(path));
    EXPECT_EQ(Sorted(reg->GetValueNames()), (Names{"Big", "LatencyTimer", "Long", "Path", "PortName", "Raw"}));
    EXPECT_TRUE(reg->GetKeyNames().empty());
    EXPECT_EQ(reg->GetDataAsString("PortName"), "COM46");
    EXPECT_EQ(reg->GetDataAsString("latencytimer"), "16");
    EXPECT_EQ(reg->GetDataAsString("Big"), "4886718345");
    EXPECT_EQ(reg->GetDataAsString("Raw"), "0f,a0,00");
    EXPECT_EQ(reg->GetDataAsString("Path"), "%SystemRoot%\\x");
    EXPECT_EQ(reg->GetDataAsString("Long"), std::string(5000, 'k'));
    EXPECT_EQ(reg->GetDataAsString("Missing"), "");

    ASSERT_TRUE(reg->OpenKey("SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6015+KRXT11A"));
    EXPECT_EQ(reg->GetKeyNames(), (Names{"0000"}));
    reg->CloseKey();
    EXPECT_TRUE(reg->GetValueNames().empty());
}

TEST_F(RegistryWin32, AccessorNeverCreatesOrChangesAKey) {
    auto reg = WindowsRegistry()->Open();
    ASSERT_TRUE(reg->OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM"));
    const std::string missing = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6015+KRXT21A";
    EXPECT_FALSE(reg->OpenKey(missing));
    // The failed open closed the key before it, and made nothing.
    EXPECT_TRUE(reg->GetValueNames().empty());
    EXPECT_TRUE(reg->GetKeyNames().empty());
    EXPECT_EQ(reg->GetDataAsString("PortName"), "");
    EXPECT_FALSE(reg->KeyExists(missing));
    EXPECT_FALSE(KeyPresent(L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6015+KRXT21A"));
}

}  // namespace
