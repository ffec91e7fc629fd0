// The Windows registry source and the port scan over the registry itself.
// The test writes its own keys and values under HKEY_LOCAL_MACHINE with the
// Win32 calls and removes them again. Writing under Enum needs rights that
// only Wine grants a test program; on Windows the test is skipped.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "discovery/portscan.h"
#include "discovery/registry.h"

namespace {

const std::wstring kMap = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::wstring kBus = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
const std::wstring kDevices[] = {L"VID_0403+PID_6015+KRXT0A", L"VID_1A86+PID_7523+KRXT1A", L"VID_0403+PID_6015+KRXT2A"};

std::wstring Parameters(int device) { return kBus + L"\\" + kDevices[device] + L"\\0000\\Device Parameters"; }

void Set(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, std::size_t size) {
    EXPECT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), type, data, static_cast<DWORD>(size)),
              ERROR_SUCCESS);
}

void SetText(const std::wstring& key, const std::wstring& name, const std::wstring& text, bool terminated = true,
             DWORD type = REG_SZ) {
    Set(key, name, type, text.c_str(), (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

struct RegistryWin32 : ::testing::Test {
    void SetUp() override {
        HKEY h = nullptr;
        const LONG rc =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kBus.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
        if (rc == ERROR_ACCESS_DENIED) GTEST_SKIP() << "no right to write the device keys (Windows)";
        ASSERT_EQ(rc, ERROR_SUCCESS);
        RegCloseKey(h);
    }

    // The bus key goes too when nothing else is below it.
    void TearDown() override {
        for (int i = 0; i < 3; ++i) {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMap.c_str(), (L"\\Device\\KrxTest" + std::to_wstring(i)).c_str());
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kBus + L"\\" + kDevices[i]).c_str());
        }
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kBus.c_str());
    }
};

// COM40 is on the device's adapter, COM41 on another maker's adapter, and
// COM42 on an adapter whose port name is stored without its terminating null.
// The adapter on COM40, which Wine lists first, holds values of every type
// besides.
TEST_F(RegistryWin32, ScanAndValuesOfEveryType) {
    const DWORD latency = 70000;
    for (int i = 0; i < 3; ++i) {
        SetText(kMap, L"\\Device\\KrxTest" + std::to_wstring(i), L"COM4" + std::to_wstring(i));
        Set(Parameters(i), L"LatencyTimer", REG_DWORD, &latency, sizeof latency);
        SetText(Parameters(i), L"PortName", L"COM4" + std::to_wstring(i), i != 2);
    }
    const ULONGLONG qword = 0x123456789ULL;
    const BYTE raw[] = {0x0F, 0xA0, 0x00};
    Set(Parameters(0), L"Big", REG_QWORD, &qword, sizeof qword);
    SetText(Parameters(0), L"Path", L"%SystemRoot%\\x", true, REG_EXPAND_SZ);
    Set(Parameters(0), L"Raw", REG_BINARY, raw, sizeof raw);
    SetText(Parameters(0), L"Text", std::wstring(5000, L'k'));

    PortScanResult scan = ScanPorts(*WindowsRegistry());
    EXPECT_TRUE(scan.map_exists);
    EXPECT_EQ(scan.ports, (std::vector<std::string>{"COM40", "COM42"}));
    EXPECT_EQ(scan.serials, (std::vector<std::string>{"KRXT0", "KRXT2"}));
    EXPECT_FALSE(scan.error.Failed()) << scan.error.text;

    // Names compare without regard to case; a path may start and end with a
    // backslash. Wine lists values sorted by name, Windows as written.
    auto reg = WindowsRegistry()->Open();
    const std::string bus = "\\system\\currentcontrolset\\enum\\ftdibus\\";
    ASSERT_TRUE(reg->OpenKey(bus + "VID_0403+PID_6015+KRXT0A\\0000\\Device Parameters\\"));
    std::set<std::string> values;
    for (const auto& name : reg->GetValueNames()) values.insert(name + "=" + reg->GetDataAsString(name));
    EXPECT_EQ(values, (std::set<std::string>{"Big=4886718345", "LatencyTimer=70000", "Path=%SystemRoot%\\x",
                                             "PortName=COM40", "Raw=0f,a0,00", "Text=" + std::string(5000, 'k')}));
    // A failed open closes the key before it, and makes nothing.
    EXPECT_FALSE(reg->OpenKey(bus + "VID_0403+PID_6001+KRXT9A"));
    EXPECT_TRUE(reg->GetValueNames().empty());
}

}  // namespace
