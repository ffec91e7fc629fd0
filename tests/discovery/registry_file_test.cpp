// The recorded registry (a registry editor export), the port scan over
// recorded machines, and on Linux the registry built from a sysfs tree. The
// exports in data/ say in their comments what each section is for.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <tuple>

#ifdef __linux__
#include <sys/stat.h>
#endif

#include "discovery/portscan.h"
#include "discovery/registry.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

const std::string kData = KRX_DISCOVERY_DATA;

// Everything below `path`, one line per key and per value, in the source's order.
std::string Dump(TRegistry& reg, const std::string& path) {
    if (!reg.OpenKey(path)) return "missing " + path + "\n";
    std::string out = "[" + path + "]\n";
    for (const auto& name : reg.GetValueNames()) out += name + "=" + reg.GetDataAsString(name) + "\n";
    for (const auto& sub : reg.GetKeyNames()) out += Dump(reg, path.empty() ? sub : path + "\\" + sub);
    return out;
}

// Reads another accessor and reports a read failure of its own.
struct FailingRegistry final : TRegistry {
    FailingRegistry(std::unique_ptr<TRegistry> inner, long code) : inner(std::move(inner)), code(code) {}
    bool KeyExists(const std::string& key) override { return inner->KeyExists(key); }
    bool OpenKey(const std::string& key) override { return inner->OpenKey(key); }
    std::vector<std::string> GetValueNames() override { return inner->GetValueNames(); }
    std::vector<std::string> GetKeyNames() override { return inner->GetKeyNames(); }
    std::string GetDataAsString(const std::string& name) override { return inner->GetDataAsString(name); }
    void CloseKey() override { inner->CloseKey(); }
    SystemError Error() const override { return SystemErrorOf(code); }
    std::unique_ptr<TRegistry> inner;
    long code;
};

// The export in data/; the n-th accessor opened (from 0) fails with failures[n], where given.
struct FailingSource final : RegistrySource {
    FailingSource(const std::string& file, std::map<int, long> failures)
        : inner(RecordedRegistry(kData + "/" + file)), failures(std::move(failures)) {}
    std::unique_ptr<TRegistry> Open() override {
        auto it = failures.find(opened++);
        return std::make_unique<FailingRegistry>(inner->Open(), it == failures.end() ? 0 : it->second);
    }
    std::unique_ptr<RegistrySource> inner;
    std::map<int, long> failures;
    int opened = 0;
};

// The serial numbers are those of the device keys that decide: the last to
// name the port (COM8), none where the key name has no third field (COM13,
// COM14) or only the port letter there (COM16). The scan opens one accessor
// for the serial port map, then one for each of its ports (typical.reg:
// COM1, COM3, COM4, COM10, COM7). The failure of any of them is the scan's,
// the first met when several fail, and the scan still gives the ports it read.
TEST(PortScan, RecordedMachinesAndReadFailuresOfAnyAccessor) {
    const Names typical = {"COM3", "COM10"}, typical_serials = {"DA01ABCD", "DB00XYZ0"};
    // The export, the accessors that fail, and the ports and serial numbers found.
    const std::tuple<std::string, std::map<int, long>, Names, Names> cases[] = {
        {"typical.reg", {}, typical, typical_serials},
        {"device_rules.reg", {}, {"COM3", "COM8", "COM13", "COM14", "COM16"}, {"A03", "B08", "", "", ""}},
        {"typical.reg", {{5, EIO}}, typical, typical_serials},
        {"typical.reg", {{0, EIO}, {2, EACCES}}, typical, typical_serials},
        {"typical.reg", {{3, EACCES}, {4, EIO}}, typical, typical_serials},
    };
    for (const auto& [file, failures, ports, serials] : cases) {
        SCOPED_TRACE(file + " with " + std::to_string(failures.size()) + " failures");
        FailingSource source(file, failures);
        PortScanResult result = ScanPorts(source);
        EXPECT_EQ(result.ports, ports);
        EXPECT_EQ(result.serials, serials);
        EXPECT_EQ(result.error.code, failures.empty() ? 0 : failures.begin()->second);
    }
}

TEST(RecordedRegistry, KeysAndValuesAsTheExportHasThem) {
    auto reg = RecordedRegistry(kData + "/layout.reg")->Open();
    EXPECT_EQ(Dump(*reg, ""),
              "[]\n[K]\nb=1\na=4\n=default\npath=C:\\Drivers\\\nquote=say \"hi\" = \\\nfifteen=15\nmax=4294967295\n"
              "multi=hex(7):43,00,4f,00,4d,00,00,00\nd=5\n[Top]\n[Top\\Zeta]\n[Top\\Zeta\\Deep]\n"
              "[Top\\Zeta\\Deep\\Deeper]\n[Top\\Zeta\\Other]\n[Top\\Alpha]\nv=1\n");
    // Names compare without regard to case; a path may start and end with a backslash.
    EXPECT_TRUE(reg->KeyExists("\\top\\ZETA\\deep\\"));
    ASSERT_TRUE(reg->OpenKey("k"));
    EXPECT_EQ(reg->GetDataAsString("D"), "5");
    // Opening a missing key leaves no key open.
    EXPECT_TRUE(!reg->OpenKey("Nope") && reg->GetValueNames().empty());
    EXPECT_EQ(Dump(*RecordedRegistry(kData + "/typical_utf16.reg")->Open(), "K"),
              "[K]\nn=\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n");
}

// A malformed export is refused naming the export and its line: each export
// in data/malformed gives the line in its name (WHAT.LINE.reg). An export is
// read only from a plain file of a bounded size: a pipe, a device or a folder
// is refused at once, never read (it would hold the window for ever).
TEST(RecordedRegistry, RefusesWhatIsNoExportNamingTheExportAndTheLine) {
    const fs::path dir = fs::temp_directory_path() / ("krx3-export-" + std::to_string(std::random_device()()));
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "big.reg").close();
    fs::resize_file(dir / "big.reg", kMaxExportBytes + 1);  // sparse
    // The export's file ("": the text), its text, where the refusal names, and why.
    std::vector<std::array<std::string, 4>> cases = {
        {"", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"ok\"=\"1\"\r\n\"v\"=\n", ":4:", ""},
        {kData + "/no_such_export.reg", "", ": ", ""},
        {(dir / "folder").string(), "", ": ", "not a plain file"},
        {(dir / "big.reg").string(), "", ": ", "larger than 64 MiB"},
    };
    for (const auto& e : fs::directory_iterator(kData + "/malformed"))
        cases.push_back({e.path().string(), "", ":" + e.path().stem().extension().string().substr(1) + ":", ""});
#ifdef __linux__
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    cases.push_back({(dir / "fifo").string(), "", ": ", "not a plain file"});
    cases.push_back({"/dev/zero", "", ": ", "not a plain file"});
#endif
    for (const auto& [file, text, where, why] : cases) {
        try {
            file.empty() ? RecordedRegistryFromText(text) : RecordedRegistry(file);
            ADD_FAILURE() << "no error: " << file << text;
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            const std::string named = (file.empty() ? "<registry text>" : file) + where;
            EXPECT_TRUE(what.find(named) != std::string::npos && what.find(why) != std::string::npos) << what;
        }
    }
    fs::remove_all(dir);
}

#ifdef __linux__
// The registry keys built from sysfs, over a copy of the recorded tree
// data/sysfs, laid out as the kernel does it (with relative links): a
// virtual console, three on-board ports, a two-port FTDI chip (ttyUSB0 and
// ttyUSB3, a backslash in its serial number, the latency timer only on the
// first port), an older FTDI cable (ttyUSB1, no serial number), a CDC modem
// (ttyACM0) and a second adapter (ttyUSB2) whose tty is not there.
// A class/tty that cannot be read is a read failure; one that is not there
// is a machine without the serial port map.
TEST(SysfsRegistry, SerialMapFtdiEntriesAndScanAsWindowsShowsThem) {
    const fs::path root = fs::temp_directory_path() / ("krx_sysfs_" + std::to_string(std::random_device()()));
    fs::copy(kData + "/sysfs", root, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    auto source = SysfsRegistry(root.string());
    auto reg = source->Open();
    ASSERT_TRUE(reg->OpenKey("HARDWARE\\DEVICEMAP\\SERIALCOMM"));
    EXPECT_EQ(reg->GetValueNames(),
              (Names{"\\Device\\ttyACM0", "\\Device\\ttyS0", "\\Device\\ttyS2", "\\Device\\ttyS10", "\\Device\\ttyUSB0",
                     "\\Device\\ttyUSB1", "\\Device\\ttyUSB3"}));
    // The ports of one chip, or of adapters without a serial number, count on with the letter.
    ASSERT_TRUE(reg->OpenKey("SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS"));
    EXPECT_EQ(reg->GetKeyNames(), (Names{"VID_1A86+PID_55D4+5&2a1A", "VID_0403+PID_6015+DA01_ABA",
                                         "VID_0403+PID_6001+A", "VID_0403+PID_6015+DA01_ABB"}));
    PortScanResult scan = ScanPorts(*source);
    EXPECT_EQ(scan.ports, (Names{"/dev/ttyUSB0", "/dev/ttyUSB3"}));
    EXPECT_EQ(scan.serials, (Names{"DA01_AB", "DA01_AB"}));
    EXPECT_FALSE(scan.error.Failed());

    // Each scan sees the tree as it is now.
    const fs::path tty_class = root / "class" / "tty";
    fs::remove_all(tty_class);
    std::ofstream(tty_class) << "not a directory\n";
    EXPECT_EQ(ScanPorts(*source).error.code, ENOTDIR);

    fs::remove_all(root);
    scan = ScanPorts(*source);
    EXPECT_TRUE(!scan.map_exists && !scan.error.Failed()) << scan.error.code;
}
#endif

}  // namespace
