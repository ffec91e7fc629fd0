// The Windows registry under HKEY_LOCAL_MACHINE, opened read-only: the scan
// must work for a user without administrator rights and never changes a key.
// Names and data cross into the program as narrow text in the ANSI code page.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "ansi_text_win32.h"
#include "registry.h"

namespace {

// RegOpenKeyExW takes the path without a leading or trailing backslash.
std::wstring SubKey(const std::string& key) {
    std::size_t begin = key.find_first_not_of('\\');
    if (begin == std::string::npos) return std::wstring();
    return WidenAnsi(key.substr(begin, key.find_last_not_of('\\') - begin + 1));
}

HKEY OpenReadOnly(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SubKey(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return nullptr;
    }
    return handle;
}

class Win32Registry final : public TRegistry {
public:
    ~Win32Registry() override { CloseKey(); }

    bool KeyExists(const std::string& key) override {
        HKEY handle = OpenReadOnly(key);
        if (!handle) return false;
        RegCloseKey(handle);
        return true;
    }

    bool OpenKey(const std::string& key) override {
        CloseKey();
        key_ = OpenReadOnly(key);
        return key_ != nullptr;
    }

    std::vector<std::string> GetValueNames() override {
        std::vector<std::string> names;
        if (!key_) return names;
        DWORD max_length = 0;
        if (RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_length, nullptr,
                             nullptr, nullptr) != ERROR_SUCCESS) {
            return names;
        }
        std::vector<wchar_t> buffer(max_length + 1);
        DWORD index = 0;
        for (;;) {
            DWORD length = static_cast<DWORD>(buffer.size());
            LONG rc = RegEnumValueW(key_, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_MORE_DATA) {
                // A value was added or renamed since the size was asked for.
                buffer.resize(buffer.size() * 2);
                continue;
            }
            if (rc != ERROR_SUCCESS) break;
            names.push_back(NarrowAnsi(buffer.data(), length));
            ++index;
        }
        return names;
    }

    std::vector<std::string> GetKeyNames() override {
        std::vector<std::string> names;
        if (!key_) return names;
        // Key names are at most 255 characters.
        wchar_t buffer[256];
        for (DWORD index = 0;; ++index) {
            DWORD length = 256;
            if (RegEnumKeyExW(key_, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            names.push_back(NarrowAnsi(buffer, length));
        }
        return names;
    }

    std::string GetDataAsString(const std::string& name) override {
        if (!key_) return std::string();
        std::wstring wide_name = WidenAnsi(name);
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key_, wide_name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return std::string();
        }
        std::vector<BYTE> data(size + sizeof(wchar_t));
        LONG rc = ERROR_MORE_DATA;
        while (rc == ERROR_MORE_DATA) {
            size = static_cast<DWORD>(data.size());
            rc = RegQueryValueExW(key_, wide_name.c_str(), nullptr, &type, data.data(), &size);
            if (rc == ERROR_MORE_DATA) data.resize(data.size() * 2);
        }
        if (rc != ERROR_SUCCESS) return std::string();
        switch (type) {
            case REG_SZ:
            case REG_EXPAND_SZ: {
                // The stored text may or may not end in a terminating null.
                const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
                std::size_t length = size / sizeof(wchar_t);
                while (length > 0 && text[length - 1] == L'\0') --length;
                return NarrowAnsi(text, length);
            }
            case REG_DWORD:
                if (size < sizeof(DWORD)) return std::string();
                return std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
            case REG_QWORD:
                if (size < sizeof(ULONGLONG)) return std::string();
                return std::to_string(*reinterpret_cast<const ULONGLONG*>(data.data()));
            default: {
                // Other types as the registry editor shows bytes: "0f,a0,...".
                static const char digits[] = "0123456789abcdef";
                std::string out;
                for (DWORD i = 0; i < size; ++i) {
                    if (i) out += ',';
                    out += digits[data[i] >> 4];
                    out += digits[data[i] & 0x0F];
                }
                return out;
            }
        }
    }

    void CloseKey() override {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

class Win32Source final : public RegistrySource {
public:
    std::unique_ptr<TRegistry> Open() override { return std::make_unique<Win32Registry>(); }
};

}  // namespace

std::unique_ptr<RegistrySource> WindowsRegistry() { return std::make_unique<Win32Source>(); }
