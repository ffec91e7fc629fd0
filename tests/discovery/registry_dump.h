// Writes out everything a registry source shows below a key, one line per
// key and per value, in the order the source lists them.
#pragma once

#include <string>

#include "registry.h"

inline void DumpKey(RegistrySource& source, const std::string& path, std::string& out) {
    auto reg = source.Open();
    if (!reg->OpenKey(path)) return;
    out += "[" + path + "]\n";
    for (const auto& name : reg->GetValueNames()) out += "\"" + name + "\"=\"" + reg->GetDataAsString(name) + "\"\n";
    for (const auto& sub : reg->GetKeyNames()) DumpKey(source, path.empty() ? sub : path + "\\" + sub, out);
}

inline std::string Dump(RegistrySource& source, const std::string& path = std::string()) {
    std::string out;
    DumpKey(source, path, out);
    return out;
}
