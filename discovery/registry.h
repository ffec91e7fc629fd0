// Read-only access to registry keys under HKEY_LOCAL_MACHINE.
//
// Three sources stand behind it: the Windows registry itself
// (registry_win32.cpp), a recorded registry in the registry editor's text
// export format (registry_file.cpp), and on Linux the same keys built from
// sysfs (registry_sysfs_linux.cpp); the last two hold their keys in memory
// (keytree.h). Key paths use backslashes; a trailing backslash is allowed;
// names compare without regard to ASCII case, as the registry does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/system_error.h"

// One accessor with at most one open key.
class TRegistry {
public:
    virtual ~TRegistry() = default;
    virtual bool KeyExists(const std::string& key) = 0;
    // Opens an existing key (never creates one); closes the key open before.
    virtual bool OpenKey(const std::string& key) = 0;
    // The open key's value names, in the source's order; none without an open key.
    virtual std::vector<std::string> GetValueNames() = 0;
    // The open key's subkey names, in the source's order.
    virtual std::vector<std::string> GetKeyNames() = 0;
    // A value's data as text, whatever its type (a DWORD as decimal); empty
    // when the value does not exist.
    virtual std::string GetDataAsString(const std::string& name) = 0;
    virtual void CloseKey() = 0;
    // The first failure to read that this accessor met, other than a key or
    // value that is not there (that is an answer, not a failure); no error
    // (code 0) while every read went through. The calls above answer with
    // what they could read: a key or value that failed as if it were not
    // there, the names listed before a listing failed.
    virtual SystemError Error() const { return SystemError(); }
};

// Makes accessors over one source.
class RegistrySource {
public:
    virtual ~RegistrySource() = default;
    virtual std::unique_ptr<TRegistry> Open() = 0;
};

// The Windows registry (Windows builds only).
std::unique_ptr<RegistrySource> WindowsRegistry();

// A registry editor export ("Windows Registry Editor Version 5.00", UTF-16LE
// with BOM or 8-bit text; string and dword values, in file order). Keys are
// taken below HKEY_LOCAL_MACHINE. Throws std::runtime_error when the file
// cannot be read or is not such an export.
// The largest export read: the serial ports' keys of a machine take a few
// kilobytes, a whole HKLM export some hundreds of megabytes.
constexpr std::uintmax_t kMaxExportBytes = 64u << 20;
// Reads the export at `path`, a plain file of at most kMaxExportBytes;
// throws std::runtime_error saying why not.
std::unique_ptr<RegistrySource> RecordedRegistry(const std::string& path);
std::unique_ptr<RegistrySource> RecordedRegistryFromText(const std::string& text);

// The serial port map and FTDI device entries built from a sysfs tree
// (Linux; `root` is "/sys" on a real system).
std::unique_ptr<RegistrySource> SysfsRegistry(const std::string& root);

// The source this platform scans: the Windows registry on Windows, sysfs at
// /sys on Linux, an empty registry elsewhere.
std::unique_ptr<RegistrySource> PlatformRegistry();
