// The Windows registry under HKEY_LOCAL_MACHINE, opened read-only: the scan
// must work for a user without administrator rights and never changes a key.
// Names and data cross into the program as narrow text in the ANSI code page.
// A call that fails for another reason than the key or value not being there
// (no right to read it, a key deleted while open, ...) answers as if it were
// not there and is kept as the accessor's read failure.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "registry.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/ansi_text_win32.h"
#include "base/system_error.h"

namespace {

// RegOpenKeyExW takes the path without a leading or trailing backslash.
std::wstring SubKey(const std::string& key) {
    std::size_t begin = key.find_first_not_of('\\');
    if (begin == std::string::npos) return std::wstring();
    return WidenAnsi(key.substr(begin, key.find_last_not_of('\\') - begin + 1));
}

// Whether a call's result is an answer rather than a failure: the key or
// value is there, or it is not.
// A key removed while it is read (an adapter unplugged during the scan) is
// as good as not there.
bool Answered(LONG rc) {
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND || rc == ERROR_KEY_DELETED;
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
        const LONG info = RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           &max_length, nullptr, nullptr, nullptr);
        if (info != ERROR_SUCCESS) {
            Record(info);
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
            if (rc != ERROR_SUCCESS) {
                if (rc != ERROR_NO_MORE_ITEMS) Record(rc);
                break;
            }
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
            const LONG rc = RegEnumKeyExW(key_, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                if (rc != ERROR_NO_MORE_ITEMS) Record(rc);
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
        LONG rc = RegQueryValueExW(key_, wide_name.c_str(), nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) {
            Record(rc);
            return std::string();
        }
        std::vector<BYTE> data(size + sizeof(wchar_t));
        rc = ERROR_MORE_DATA;
        while (rc == ERROR_MORE_DATA) {
            size = static_cast<DWORD>(data.size());
            rc = RegQueryValueExW(key_, wide_name.c_str(), nullptr, &type, data.data(), &size);
            if (rc == ERROR_MORE_DATA) data.resize(data.size() * 2);
        }
        if (rc != ERROR_SUCCESS) {
            Record(rc);
            return std::string();
        }
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

    SystemError Error() const override { return error_; }

private:
    // A key that cannot be opened is not there to the caller; why, when it
    // is there, is kept as the read failure.
    HKEY OpenReadOnly(const std::string& key) {
        HKEY handle = nullptr;
        const LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, SubKey(key).c_str(), 0, KEY_READ, &handle);
        if (rc != ERROR_SUCCESS) {
            Record(rc);
            return nullptr;
        }
        return handle;
    }

    // Keeps the first failure; a key or value that is not there is none.
    void Record(LONG rc) {
        if (!error_.Failed() && !Answered(rc)) error_ = SystemErrorOf(rc);
    }

    HKEY key_ = nullptr;
    SystemError error_;
};

class Win32Source final : public RegistrySource {
public:
    std::unique_ptr<TRegistry> Open() override { return std::make_unique<Win32Registry>(); }
};

}  // namespace

std::unique_ptr<RegistrySource> WindowsRegistry() { return std::make_unique<Win32Source>(); }
