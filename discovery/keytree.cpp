#include "keytree.h"

#include <algorithm>

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string s) {
    for (char& c : s) c = LowerAscii(c);
    return s;
}

// The names along `path` below the root. A key's name is never empty, so
// backslashes in a row separate as one: "A\\B" is "A\B", as the registry
// itself reads it. (Taken as an empty key between A and B, it made a key no
// path can name, and an export written from it read back otherwise.)
std::vector<std::string> PathNames(const std::string& path) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t stop = path.find('\\', start);
        if (stop == std::string::npos) stop = path.size();
        if (stop > start) names.push_back(path.substr(start, stop - start));
        start = stop + 1;
    }
    return names;
}

class TreeRegistry final : public TRegistry {
public:
    TreeRegistry(std::shared_ptr<const KeyTree> tree, SystemError error)
        : tree_(std::move(tree)), error_(std::move(error)) {}

    bool KeyExists(const std::string& key) override { return tree_->Find(key) != nullptr; }

    bool OpenKey(const std::string& key) override {
        open_ = tree_->Find(key);
        return open_ != nullptr;
    }

    std::vector<std::string> GetValueNames() override {
        std::vector<std::string> names;
        if (open_) {
            for (const auto& value : open_->Values()) names.push_back(value.first);
        }
        return names;
    }

    std::vector<std::string> GetKeyNames() override {
        return open_ ? open_->SubkeyNames() : std::vector<std::string>();
    }

    std::string GetDataAsString(const std::string& name) override {
        const std::string* data = open_ ? open_->Data(name) : nullptr;
        return data ? *data : std::string();
    }

    void CloseKey() override { open_ = nullptr; }

    SystemError Error() const override { return error_; }

private:
    std::shared_ptr<const KeyTree> tree_;
    SystemError error_;
    const RegistryKey* open_ = nullptr;
};

class TreeSource final : public RegistrySource {
public:
    explicit TreeSource(std::shared_ptr<const KeyTree> tree) : tree_(std::move(tree)) {}
    std::unique_ptr<TRegistry> Open() override { return KeyTreeRegistry(tree_); }

private:
    std::shared_ptr<const KeyTree> tree_;
};

}  // namespace

bool SameRegistryName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

const RegistryKey* RegistryKey::Subkey(const std::string& name) const {
    auto it = subkey_at_.find(LowerAscii(name));
    return it == subkey_at_.end() ? nullptr : subkeys_[it->second].get();
}

RegistryKey& RegistryKey::AddSubkey(const std::string& name) {
    auto [it, inserted] = subkey_at_.try_emplace(LowerAscii(name), subkeys_.size());
    if (inserted) subkeys_.push_back(std::make_unique<RegistryKey>(name));
    return *subkeys_[it->second];
}

std::vector<std::string> RegistryKey::SubkeyNames() const {
    std::vector<std::string> names;
    names.reserve(subkeys_.size());
    for (const auto& key : subkeys_) names.push_back(key->Name());
    return names;
}

void RegistryKey::SetValue(const std::string& name, std::string data) {
    for (auto& value : values_) {
        if (SameRegistryName(value.first, name)) {
            value.second = std::move(data);
            return;
        }
    }
    values_.emplace_back(name, std::move(data));
}

const std::string* RegistryKey::Data(const std::string& name) const {
    for (const auto& value : values_) {
        if (SameRegistryName(value.first, name)) return &value.second;
    }
    return nullptr;
}

const RegistryKey* KeyTree::Find(const std::string& path) const {
    const RegistryKey* key = &root_;
    for (const std::string& name : PathNames(path)) {
        key = key->Subkey(name);
        if (!key) return nullptr;
    }
    return key;
}

RegistryKey& KeyTree::Create(const std::string& path) {
    RegistryKey* key = &root_;
    for (const std::string& name : PathNames(path)) key = &key->AddSubkey(name);
    return *key;
}

std::unique_ptr<TRegistry> KeyTreeRegistry(std::shared_ptr<const KeyTree> tree, SystemError error) {
    return std::make_unique<TreeRegistry>(std::move(tree), std::move(error));
}

std::unique_ptr<RegistrySource> KeyTreeSource(std::shared_ptr<const KeyTree> tree) {
    return std::make_unique<TreeSource>(std::move(tree));
}
