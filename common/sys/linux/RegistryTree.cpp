#include "common/sys/linux/RegistryTree.h"

#include <algorithm>

namespace sys {

namespace {

// Case-blind for ASCII letters, as util::CompareNoCase, but without its copies: every lookup
// runs through here.
bool SameName(const std::string& a, const std::string& b) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return upper(x) == upper(y); });
}

}  // namespace

RegistryKey RegistryKey::MakeStore() {
    RegistryKey store("");
    for (const char* root : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                             "HKEY_USERS", "HKEY_CURRENT_CONFIG"}) {
        store.AddSubkey(root);
    }
    return store;
}

const RegistryValue* RegistryKey::FindValue(const std::string& name) const {
    for (const RegistryValue& value : values_) {
        if (SameName(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

bool RegistryKey::SetValue(const std::string& name, std::uint32_t type, const std::string& data) {
    const auto found = std::find_if(values_.begin(), values_.end(),
                                    [&](const auto& value) { return SameName(value.name, name); });
    if (found == values_.end()) {
        values_.push_back(RegistryValue{name, type, data});
        return true;
    }
    if (found->type == type && found->data == data) {
        return false;
    }
    found->type = type;
    found->data = data;
    return true;
}

bool RegistryKey::DeleteValue(const std::string& name) {
    const auto found = std::find_if(values_.begin(), values_.end(),
                                    [&](const auto& value) { return SameName(value.name, name); });
    if (found == values_.end()) {
        return false;
    }
    values_.erase(found);
    return true;
}

RegistryKey* RegistryKey::FindSubkey(const std::string& name) const {
    for (const auto& subkey : subkeys_) {
        if (SameName(subkey->name_, name)) {
            return subkey.get();
        }
    }
    return nullptr;
}

RegistryKey& RegistryKey::AddSubkey(const std::string& name) {
    if (RegistryKey* found = FindSubkey(name)) {
        return *found;
    }
    return *subkeys_.emplace_back(std::make_unique<RegistryKey>(name));
}

bool RegistryKey::DeleteSubkey(const std::string& name) {
    const auto found = std::find_if(subkeys_.begin(), subkeys_.end(), [&](const auto& subkey) {
        return SameName(subkey->name_, name);
    });
    if (found == subkeys_.end()) {
        return false;
    }
    subkeys_.erase(found);
    return true;
}

RegistryKey* RegistryKey::FindPath(const std::string& path) {
    RegistryKey* key = this;
    for (const std::string& part : SplitKeyPath(path)) {
        key = key->FindSubkey(part);
        if (key == nullptr) {
            return nullptr;
        }
    }
    return key;
}

RegistryKey& RegistryKey::CreatePath(const std::string& path, bool& created) {
    created = false;
    RegistryKey* key = this;
    for (const std::string& part : SplitKeyPath(path)) {
        RegistryKey* next = key->FindSubkey(part);
        if (next == nullptr) {
            next = &key->AddSubkey(part);
            created = true;
        }
        key = next;
    }
    return *key;
}

std::string DWordBytes(std::uint32_t number) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<char>((number >> shift) & 0xFF));
    }
    return bytes;
}

std::uint32_t DWordFromBytes(const std::string& bytes) {
    std::uint32_t number = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        number = number << 8 | static_cast<unsigned char>(bytes[i]);
    }
    return number;
}

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

}  // namespace sys
