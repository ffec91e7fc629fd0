// A recorded registry: the text the registry editor writes when it exports
// keys, read into a key tree (keytree.h). Only keys below HKEY_LOCAL_MACHINE
// are kept, since that is the only hive the port scan reads. Every value
// keeps its file order; a name given twice in one key keeps its first place
// and takes the later data, as an import of the file overwrites the value.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "keytree.h"
#include "registry.h"

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The 5.00 format is normally written as UTF-16LE with a byte order mark;
// REGEDIT4 files and hand-written ones are 8-bit text, taken as they are.
std::string DecodeText(const std::string& bytes, const std::string& origin) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    bool le = bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
    bool be = bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
    if (!le && !be) {
        if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) return bytes.substr(3);
        return bytes;
    }
    if (bytes.size() % 2 != 0) throw std::runtime_error(origin + ": UTF-16 text with an odd number of bytes");
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) -> std::uint32_t {
        return le ? (byte(i) | (byte(i + 1) << 8)) : ((byte(i) << 8) | byte(i + 1));
    };
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 2 < bytes.size()) {
            std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}

class Parser {
public:
    Parser(std::string origin, KeyTree& tree) : origin_(std::move(origin)), tree_(tree) {}

    void Parse(const std::string& text) {
        std::vector<std::string> lines = SplitLines(text);
        if (lines.empty()) Fail(1, "empty file, not a registry export");
        std::string header = Trim(lines[0]);
        if (header != "Windows Registry Editor Version 5.00" && header != "REGEDIT4") {
            Fail(1, "not a registry export (expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\")");
        }
        RegistryKey* section = nullptr;
        bool in_section = false;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            std::size_t line_no = i + 1;
            std::string line = Trim(lines[i]);
            if (line.empty() || line[0] == ';') continue;
            if (line[0] == '[') {
                if (line.back() != ']') Fail(line_no, "key line without closing ']'");
                section = OpenSection(line.substr(1, line.size() - 2), line_no);
                in_section = true;
                continue;
            }
            if (line[0] != '"' && line[0] != '@') Fail(line_no, "expected a key in [brackets] or a value");
            if (!in_section) Fail(line_no, "value before the first key");
            // Binary-style values may run over several lines, each but the
            // last ending in a backslash.
            while (line.back() == '\\' && IsRawValue(line) && i + 1 < lines.size()) {
                line.pop_back();
                line += Trim(lines[++i]);
            }
            ParseValue(line, line_no, section);
        }
    }

private:
    [[noreturn]] void Fail(std::size_t line_no, const std::string& what) const {
        throw std::runtime_error(origin_ + ":" + std::to_string(line_no) + ": " + what);
    }

    static std::vector<std::string> SplitLines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
            start = end + 1;
        }
        while (!lines.empty() && Trim(lines.back()).empty()) lines.pop_back();
        return lines;
    }

    static std::string Trim(const std::string& s) {
        const char* space = " \t\r";
        std::size_t begin = s.find_first_not_of(space);
        if (begin == std::string::npos) return std::string();
        return s.substr(begin, s.find_last_not_of(space) - begin + 1);
    }

    // A value whose data is not a quoted string: a quoted string may end in
    // an escaped backslash, which is no line continuation.
    static bool IsRawValue(const std::string& line) {
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else {
            pos = 1;
            while (pos < line.size() && line[pos] != '"') pos += line[pos] == '\\' ? 2 : 1;
            ++pos;
        }
        std::size_t eq = line.find_first_not_of(" \t", pos);
        if (eq == std::string::npos || line[eq] != '=') return false;
        std::size_t data = line.find_first_not_of(" \t", eq + 1);
        return data != std::string::npos && line[data] != '"';
    }

    // Returns the key the section's values go to, or nullptr when they are
    // not kept (another hive, or a deletion).
    RegistryKey* OpenSection(const std::string& path, std::size_t line_no) {
        if (path.empty()) Fail(line_no, "empty key name");
        if (path[0] == '-') return nullptr;
        std::size_t sep = path.find('\\');
        std::string hive = path.substr(0, sep);
        if (!SameRegistryName(hive, "HKEY_LOCAL_MACHINE") && !SameRegistryName(hive, "HKLM")) {
            static const char* const others[] = {"HKEY_CURRENT_USER",
                                                 "HKEY_CLASSES_ROOT",
                                                 "HKEY_USERS",
                                                 "HKEY_CURRENT_CONFIG",
                                                 "HKCU",
                                                 "HKCR",
                                                 "HKU",
                                                 "HKCC"};
            if (std::none_of(std::begin(others), std::end(others),
                             [&](const char* h) { return SameRegistryName(hive, h); })) {
                Fail(line_no, "unknown root key \"" + hive + "\"");
            }
            return nullptr;
        }
        return &tree_.Create(sep == std::string::npos ? std::string() : path.substr(sep + 1));
    }

    // Reads a quoted string starting at `pos` (on the opening quote); leaves
    // `pos` after the closing quote.
    std::string QuotedString(const std::string& line, std::size_t& pos, std::size_t line_no) const {
        std::string out;
        ++pos;
        while (pos < line.size() && line[pos] != '"') {
            if (line[pos] == '\\' && pos + 1 < line.size()) ++pos;
            out += line[pos++];
        }
        if (pos >= line.size()) Fail(line_no, "string without closing quote");
        ++pos;
        return out;
    }

    void ParseValue(const std::string& line, std::size_t line_no, RegistryKey* section) {
        std::size_t pos = 0;
        std::string name;
        if (line[0] == '@') {
            pos = 1;
        } else {
            name = QuotedString(line, pos, line_no);
        }
        pos = line.find_first_not_of(" \t", pos);
        if (pos == std::string::npos || line[pos] != '=') Fail(line_no, "expected '=' after the value name");
        pos = line.find_first_not_of(" \t", pos + 1);
        if (pos == std::string::npos) Fail(line_no, "value without data");
        std::string data;
        if (line[pos] == '"') {
            data = QuotedString(line, pos, line_no);
            if (pos != line.size()) Fail(line_no, "unexpected text after the string's closing quote");
        } else if (line[pos] == '-' && pos + 1 == line.size()) {
            return;  // a value deletion: nothing to record
        } else if (line.compare(pos, 6, "dword:") == 0) {
            data = Dword(line.substr(pos + 6), line_no);
        } else if (line.compare(pos, 3, "hex") == 0) {
            data = line.substr(pos);
        } else {
            Fail(line_no, "unknown value type in \"" + line.substr(pos) + "\"");
        }
        if (section) section->SetValue(name, std::move(data));
    }

    std::string Dword(const std::string& digits, std::size_t line_no) const {
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            Fail(line_no, "bad dword \"" + digits + "\"");
        }
        return std::to_string(std::stoul(digits, nullptr, 16));
    }

    std::string origin_;
    KeyTree& tree_;
};

std::unique_ptr<RegistrySource> Load(const std::string& bytes, const std::string& origin) {
    auto tree = std::make_shared<KeyTree>();
    Parser(origin, *tree).Parse(DecodeText(bytes, origin));
    return KeyTreeSource(std::move(tree));
}

}  // namespace

std::unique_ptr<RegistrySource> RecordedRegistry(const std::string& path) {
    // Only a plain file is opened: a pipe would wait for a writer, and a
    // device such as /dev/zero would never end.
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(path, ec);
    if (ec) throw std::runtime_error(path + ": cannot open the registry export (" + ec.message() + ")");
    if (!std::filesystem::is_regular_file(st))
        throw std::runtime_error(path + ": the registry export is not a plain file (a folder, a pipe or a device)");
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxExportBytes)
        throw std::runtime_error(path + ": the registry export is larger than " +
                                 std::to_string(kMaxExportBytes >> 20) +
                                 " MiB; export only the keys of the serial ports");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot open the registry export");
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) throw std::runtime_error(path + ": cannot read the registry export");
    return Load(bytes, path);
}

std::unique_ptr<RegistrySource> RecordedRegistryFromText(const std::string& text) {
    return Load(text, "<registry text>");
}
