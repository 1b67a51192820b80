#pragma once

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "common/sys/Registry.h"
#include "tests/support/Environment.h"
#include "tests/support/ScratchFiles.h"
#include "tests/unit/RegistryFixture.h"

namespace regtest {

constexpr const char* kServiceKey = "Software\\Corvane\\Client Service";

// Each test gets settings of its own, with the agent's key at its usual place: on Linux a
// settings store file below a temporary CORVANE_ROOT.
class StoreFixture : public ::testing::Test {
protected:
    std::string StoreFolder() const { return sandbox_ / "etc/corvane"; }
    std::string StorePath() const { return sandbox_ / "etc/corvane/registry.reg"; }
    std::string ReadStore() const { return scratch::ReadFile(StorePath()); }
    void WriteStore(const std::string& text) const {
        std::filesystem::create_directories(StoreFolder());
        scratch::WriteFile(StorePath(), text);
    }

    static void OpenKey(sys::Registry& key, const std::string& subkey = kServiceKey,
                        bool create = true) {
        key.SetKey(sys::RegistryRoot::LocalMachine, subkey);
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

    testsupport::SettingsSandbox sandbox_;
};

}  // namespace regtest
