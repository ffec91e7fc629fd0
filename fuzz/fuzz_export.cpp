// A registry export: what is read and written out again reads as the same
// keys and values, in the same order, and so is written out the same again.
#include <cstddef>
#include <cstdint>
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

// Every key below `path` with its values, as export text.
void Walk(TRegistry& reg, const std::string& path, int depth, std::string* text) {
    if (depth > 32 || !reg.OpenKey(path)) return;
    const std::vector<std::string> values = reg.GetValueNames(), keys = reg.GetKeyNames();
    *text += "\n[HKEY_LOCAL_MACHINE" + (path.empty() ? std::string() : "\\" + path) + "]\n";
    for (const std::string& name : values)
        *text += (name.empty() ? std::string("@") : Quoted(name)) + "=" + Quoted(reg.GetDataAsString(name)) + "\n";
    for (const std::string& key : keys) Walk(reg, path.empty() ? key : path + "\\" + key, depth + 1, text);
}

// What the export `text` reads as, written out again.
std::string Rewritten(const std::string& text) {
    std::string written = "Windows Registry Editor Version 5.00\n";
    Walk(*RecordedRegistryFromText(text)->Open(), "", 0, &written);
    return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string written;
    try {
        written = Rewritten(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const std::runtime_error&) {
        return 0;  // not an export: refused with the line that is wrong
    }
    FUZZ_CHECK(Rewritten(written) == written);
    return 0;
}
