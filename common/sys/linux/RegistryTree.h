#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/sys/linux/RegistryDefs.h"

namespace sys {

// One named, typed value as the narrow registry calls see it: text kinds hold UTF-8
// characters followed by the zero byte(s) they were written with, a REG_DWORD holds four
// bytes, least significant first.
struct RegistryValue {
    std::string name;  // empty for the key's default value
    std::uint32_t type = REG_NONE;
    std::string data;
};

// A key of the settings store with its values and subkeys, both in the order they were
// added. Names are found without regard to case and keep the case they were first given.
class RegistryKey {
public:
    explicit RegistryKey(std::string name) : name_(std::move(name)) {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    RegistryKey(RegistryKey&&) = default;
    RegistryKey& operator=(RegistryKey&&) = default;

    // The top of a whole store: a nameless key whose subkeys are the predefined root keys
    // (HKEY_LOCAL_MACHINE and its siblings), which always exist.
    static RegistryKey MakeStore();

    const std::string& Name() const { return name_; }
    const std::vector<RegistryValue>& Values() const { return values_; }
    const std::vector<std::unique_ptr<RegistryKey>>& Subkeys() const { return subkeys_; }

    const RegistryValue* FindValue(const std::string& name) const;
    // Adds the value or replaces its kind and data; false when nothing changed.
    bool SetValue(const std::string& name, std::uint32_t type, const std::string& data);
    // False when there is no such value.
    bool DeleteValue(const std::string& name);

    RegistryKey* FindSubkey(const std::string& name) const;
    // The subkey of that name, added when missing.
    RegistryKey& AddSubkey(const std::string& name);
    // False when there is no such subkey.
    bool DeleteSubkey(const std::string& name);

    // Paths below this key, parts separated by "\" ("HKEY_LOCAL_MACHINE\Software\Corvane").
    RegistryKey* FindPath(const std::string& path);
    // Finds the key, creating it and every missing key above it; created tells which.
    RegistryKey& CreatePath(const std::string& path, bool& created);

private:
    std::string name_;
    std::vector<RegistryValue> values_;
    std::vector<std::unique_ptr<RegistryKey>> subkeys_;
};

// The four bytes of a REG_DWORD value, least significant first, and back.
std::string DWordBytes(std::uint32_t number);
std::uint32_t DWordFromBytes(const std::string& bytes);

// The parts of a key path; empty parts (doubled or outer separators) are left out.
std::vector<std::string> SplitKeyPath(const std::string& path);

}  // namespace sys
