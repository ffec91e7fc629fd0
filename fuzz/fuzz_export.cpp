// A registry export: what is read, written out again and read again is the
// same keys and values, in the same order.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "discovery/registry.h"
#include "fuzz_check.h"

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Bytes a message can show.
std::string Shown(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    return out;
}

// Every key below `path` with its values: as export text, and as a plain
// listing to compare.
void Walk(TRegistry& reg, const std::string& path, int depth, std::string* text, std::string* listing) {
    if (depth > 32 || !reg.OpenKey(path)) return;
    const std::vector<std::string> values = reg.GetValueNames(), keys = reg.GetKeyNames();
    *text += "\n[HKEY_LOCAL_MACHINE" + (path.empty() ? std::string() : "\\" + path) + "]\n";
    *listing += "[" + Shown(path) + "]\n";
    for (const std::string& name : values) {
        const std::string data = reg.GetDataAsString(name);
        *text += (name.empty() ? std::string("@") : Quoted(name)) + "=" + Quoted(data) + "\n";
        *listing += Shown(name) + "=" + Shown(data) + "\n";
    }
    for (const std::string& key : keys) Walk(reg, path.empty() ? key : path + "\\" + key, depth + 1, text, listing);
}

std::string Read(const std::string& text, std::string* written) {
    std::unique_ptr<RegistrySource> source = RecordedRegistryFromText(text);
    std::unique_ptr<TRegistry> reg = source->Open();
    std::string listing;
    *written = "Windows Registry Editor Version 5.00\n";
    Walk(*reg, "", 0, written, &listing);
    return listing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string written, again;
    std::string first;
    try {
        first = Read(text, &written);
    } catch (const std::runtime_error&) {
        return 0;  // not an export: refused with the line that is wrong
    }
    const std::string second = Read(written, &again);
    if (second != first)
        std::fprintf(stderr, "read:\n%s\nwritten and read again:\n%s\n", first.c_str(), second.c_str());
    FUZZ_CHECK(second == first);
    return 0;
}
