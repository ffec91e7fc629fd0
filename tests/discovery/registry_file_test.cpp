// The recorded registry (a registry editor export), the port scan over
// recorded machines, and on Linux the registry built from a sysfs tree. The
// exports in data/ say in their comments what each section is for.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

// The serial numbers are those of the device keys that decide: the last to
// name the port (COM8), none where the key name has no third field (COM13,
// COM14) or only the port letter there (COM16).
TEST(PortScan, RecordedMachines) {
    const struct {
        std::string file;
        Names ports, serials;
    } cases[] = {
        {"typical.reg", {"COM3", "COM10"}, {"DA01ABCD", "DB00XYZ0"}},
        {"typical_utf16.reg", {"COM3", "COM10"}, {"DA01ABCD", "DB00XYZ0"}},
        {"mixed_order.reg", {"COM3", "COM4"}, {"DA01AAAA", "DA01BBBB"}},
        {"device_rules.reg", {"COM3", "COM8", "COM13", "COM14", "COM16"}, {"A03", "B08", "", "", ""}},
    };
    for (const auto& c : cases) {
        PortScanResult result = ScanPorts(*RecordedRegistry(kData + "/" + c.file));
        EXPECT_TRUE(result.map_exists) << c.file;
        EXPECT_EQ(result.ports, c.ports) << c.file;
        EXPECT_EQ(result.serials, c.serials) << c.file;
        EXPECT_FALSE(result.error.Failed()) << c.file;
    }
    EXPECT_FALSE(ScanPorts(*RecordedRegistry(kData + "/layout.reg")).map_exists);
}

// Reads another accessor and reports a read failure of its own.
class FailingRegistry final : public TRegistry {
public:
    FailingRegistry(std::unique_ptr<TRegistry> inner, long code) : inner_(std::move(inner)), code_(code) {}
    bool KeyExists(const std::string& key) override { return inner_->KeyExists(key); }
    bool OpenKey(const std::string& key) override { return inner_->OpenKey(key); }
    std::vector<std::string> GetValueNames() override { return inner_->GetValueNames(); }
    std::vector<std::string> GetKeyNames() override { return inner_->GetKeyNames(); }
    std::string GetDataAsString(const std::string& name) override { return inner_->GetDataAsString(name); }
    void CloseKey() override { inner_->CloseKey(); }
    SystemError Error() const override { return SystemErrorOf(code_); }

private:
    std::unique_ptr<TRegistry> inner_;
    long code_;
};

// The n-th accessor opened (from 0) fails with failures[n], where given.
class FailingSource final : public RegistrySource {
public:
    FailingSource(std::unique_ptr<RegistrySource> inner, std::map<int, long> failures)
        : inner_(std::move(inner)), failures_(std::move(failures)) {}
    std::unique_ptr<TRegistry> Open() override {
        auto it = failures_.find(opened_++);
        return std::make_unique<FailingRegistry>(inner_->Open(), it == failures_.end() ? 0 : it->second);
    }

private:
    std::unique_ptr<RegistrySource> inner_;
    std::map<int, long> failures_;
    int opened_ = 0;
};

// The scan opens one accessor for the serial port map, then one for each of
// its ports (typical.reg: COM1, COM3, COM4, COM10, COM7). The failure of any
// of them is the scan's, the first met when several fail, and the scan
// still gives the ports it read.
TEST(PortScan, ReadFailureOfAnyAccessorWithWhatWasRead) {
    const struct {
        std::map<int, long> failures;
        long code;
    } cases[] = {
        {{}, 0},
        {{{0, EIO}}, EIO},
        {{{2, EACCES}}, EACCES},
        {{{5, EIO}}, EIO},
        {{{0, EIO}, {2, EACCES}}, EIO},
        {{{3, EACCES}, {4, EIO}}, EACCES},
    };
    for (const auto& c : cases) {
        FailingSource source(RecordedRegistry(kData + "/typical.reg"), c.failures);
        PortScanResult result = ScanPorts(source);
        EXPECT_EQ(result.error.code, c.code) << c.failures.size();
        EXPECT_TRUE(result.map_exists);
        EXPECT_EQ(result.ports, (Names{"COM3", "COM10"}));
        EXPECT_EQ(result.serials, (Names{"DA01ABCD", "DB00XYZ0"}));
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
    EXPECT_FALSE(reg->OpenKey("Nope"));
    EXPECT_TRUE(reg->GetValueNames().empty());

    reg = RecordedRegistry(kData + "/typical_utf16.reg")->Open();
    ASSERT_TRUE(reg->OpenKey("K"));
    EXPECT_EQ(reg->GetDataAsString("n"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

// The error names the export and its line. A REGEDIT4 header is read.
TEST(RecordedRegistry, MalformedExportsNameTheLine) {
    const std::string head = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n";
    const struct {
        std::string file, text, where;
    } cases[] = {
        {"", "", "<registry text>:1:"},
        {"", "Windows Registry Editor Version 4.00\n", "<registry text>:1:"},
        {"", "Windows Registry Editor Version 5.00\n\"v\"=\"1\"\n", "<registry text>:2:"},
        {"", head + "[HKEY_LOCAL_MACHINE\\L\n", "<registry text>:3:"},
        {"", head + "[HKEY_NOWHERE\\L]\n", "<registry text>:3:"},
        {"", head + "\"v\"=\"open\n", "<registry text>:3:"},
        {"", head + "\"v\"\n", "<registry text>:3:"},
        {"", head + "\"v\"=dword:1234567890\n", "<registry text>:3:"},
        {"", head + "\"v\"=qword:1\n", "<registry text>:3:"},
        {"", head + "\"ok\"=\"1\"\r\n\"v\"=\n", "<registry text>:4:"},
        {"/malformed.reg", "", "/malformed.reg:4:"},
        {"/no_such_export.reg", "", "/no_such_export.reg: "},
    };
    for (const auto& c : cases) {
        try {
            c.file.empty() ? RecordedRegistryFromText(c.text) : RecordedRegistry(kData + c.file);
            ADD_FAILURE() << "no error: " << c.file << c.text;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.where), std::string::npos) << e.what();
        }
    }
}

// An export is read only from a plain file of a bounded size: a pipe, a
// device or a folder is refused at once, never read (it would hold the
// window for ever).
TEST(RecordedRegistry, OnlyAPlainFileOfBoundedSizeIsRead) {
    const fs::path dir = fs::temp_directory_path() / ("krx3-export-" + std::to_string(std::random_device()()));
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "big.reg").close();
    fs::resize_file(dir / "big.reg", kMaxExportBytes + 1);  // sparse
    std::vector<std::pair<std::string, std::string>> cases = {
        {(dir / "folder").string(), "not a plain file"},
        {(dir / "big.reg").string(), "larger than 64 MiB"},
    };
#ifdef __linux__
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    cases.push_back({(dir / "fifo").string(), "not a plain file"});
    cases.push_back({"/dev/zero", "not a plain file"});
#endif
    for (const auto& [path, says] : cases) {
        try {
            RecordedRegistry(path);
            ADD_FAILURE() << "read: " << path;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(path + ": "), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
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
// (ttyACM0) and a second adapter (ttyUSB2) whose tty is not there yet.
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
    fs::create_directory_symlink("../../devices/pci0000_00/0000_00_14.0/usb1/1-4/1-4_1.0/ttyUSB2/tty/ttyUSB2",
                                 tty_class / "ttyUSB2");
    scan = ScanPorts(*source);
    EXPECT_EQ(scan.ports, (Names{"/dev/ttyUSB0", "/dev/ttyUSB2", "/dev/ttyUSB3"}));
    EXPECT_EQ(scan.serials, (Names{"DA01_AB", "DA02", "DA01_AB"}));

    fs::remove_all(tty_class);
    std::ofstream(tty_class) << "not a directory\n";
    scan = ScanPorts(*source);
    EXPECT_EQ(scan.error.code, ENOTDIR);
    EXPECT_EQ(ScanFailureText(scan.error), "The serial ports could not be read: Not a directory");
    EXPECT_TRUE(scan.ports.empty());

    fs::remove(tty_class);
    scan = ScanPorts(*source);
    EXPECT_FALSE(scan.map_exists);
    EXPECT_FALSE(scan.error.Failed());
    fs::remove_all(root);
    EXPECT_FALSE(ScanPorts(*source).map_exists);
}
#endif

}  // namespace
