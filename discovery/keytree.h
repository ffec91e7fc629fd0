// Registry keys held in memory: what a recorded registry export is read into
// (registry_file.cpp) and what the Linux sysfs source builds
// (registry_sysfs_linux.cpp), and the accessor that reads them as the port
// scan reads the Windows registry.
//
// A key keeps its subkeys and its values in the order they were added. Names
// compare without regard to ASCII case, as the registry compares them; a name
// keeps the spelling it was first added with.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/system_error.h"
#include "registry.h"

// Whether two key or value names are the same to the registry: equal but for
// the case of ASCII letters.
bool SameRegistryName(const std::string& a, const std::string& b);

class RegistryKey {
public:
    using Value = std::pair<std::string, std::string>;  // name, data

    explicit RegistryKey(std::string name = std::string()) : name_(std::move(name)) {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    const std::string& Name() const { return name_; }

    // The subkey of that name, or nullptr when there is none.
    const RegistryKey* Subkey(const std::string& name) const;
    // The subkey of that name, added after the others when it is missing.
    RegistryKey& AddSubkey(const std::string& name);
    std::vector<std::string> SubkeyNames() const;

    // A name already there keeps its place and takes the new data, as a
    // registry import overwrites a value.
    void SetValue(const std::string& name, std::string data);
    // The value's data, or nullptr when there is no such value.
    const std::string* Data(const std::string& name) const;
    const std::vector<Value>& Values() const { return values_; }

private:
    std::string name_;
    std::vector<std::unique_ptr<RegistryKey>> subkeys_;
    std::map<std::string, std::size_t> subkey_at_;  // ASCII lower-case name -> place in subkeys_
    std::vector<Value> values_;
};

// HKEY_LOCAL_MACHINE and the keys below it. Paths use backslashes; leading
// and trailing backslashes are dropped, so "" and "\" are the root itself.
class KeyTree {
public:
    // The key at `path`, or nullptr when it does not exist.
    const RegistryKey* Find(const std::string& path) const;
    // The key at `path`, adding it and every key above it that is missing.
    RegistryKey& Create(const std::string& path);

private:
    RegistryKey root_;
};

// An accessor over `tree`. `error` is the read failure it reports: the one
// met in reading what the tree was built from (none for a tree that was read
// whole).
std::unique_ptr<TRegistry> KeyTreeRegistry(std::shared_ptr<const KeyTree> tree, SystemError error = SystemError());

// A source whose accessors all read `tree`, reporting no read failure.
std::unique_ptr<RegistrySource> KeyTreeSource(std::shared_ptr<const KeyTree> tree);
