#pragma once

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "common/err/Errors.h"
#include "common/sys/Registry.h"
#include "common/sys/linux/RegistryDefs.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/ScratchFiles.h"

namespace regtest {

constexpr const char* kServiceKey = "Software\\Corvane\\Client Service";

// Each test gets a settings store of its own below a temporary CORVANE_ROOT.
class RegistryFixture : public ::testing::Test {
protected:
    RegistryFixture() : root_(folder_.Path().c_str()) {}

    std::string StoreFolder() const { return folder_ / "etc/corvane"; }
    std::string StorePath() const { return folder_ / "etc/corvane/registry.reg"; }
    std::string ReadStore() const { return scratch::ReadFile(StorePath()); }
    void WriteStore(const std::string& text) const {
        std::filesystem::create_directories(StoreFolder());
        scratch::WriteFile(StorePath(), text);
    }

    static void OpenKey(sys::Registry& key, const std::string& subkey = kServiceKey,
                        bool create = true) {
        key.SetKey(HKEY_LOCAL_MACHINE, subkey);
        key.Open(create, false, 0);
    }
    // A stored value, read through a key of its own.
    static std::string StoredText(const std::string& name,
                                  const std::string& subkey = kServiceKey) {
        sys::Registry key;
        OpenKey(key, subkey, false);
        std::string text;
        key.ReadString(name, text);
        return text;
    }
    static std::uint32_t StoredDWord(const std::string& name) {
        sys::Registry key;
        OpenKey(key, kServiceKey, false);
        std::uint32_t number = 0;
        key.ReadDWord(name, number);
        return number;
    }

    scratch::ScratchFolder folder_;
    scratch::ScopedRoot root_;
};

// The registry error the call raises; empty when it raises none.
template <typename Call>
std::optional<sys::RegistryError> Caught(Call call) {
    try {
        call();
    } catch (const sys::RegistryError& error) {
        return error;
    }
    return std::nullopt;
}

// The value of the registry error the call raises; -1 when it raises none.
template <typename Call>
int ErrorValue(Call call) {
    const auto error = Caught(call);
    return error ? error->Value() : -1;
}

}  // namespace regtest
