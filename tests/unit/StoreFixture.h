#pragma once

#include <type_traits>

#include "common/err/Errors.h"
#include "common/sys/Registry.h"
#include "tests/support/Environment.h"
#include "tests/support/TestBasics.h"

namespace regtest {

constexpr const char* kServiceKey = "Software\\Corvane\\Client Service";

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

// What a call gives: its text ("" for a call that gives none), or "error <value>" when it
// raises a registry error.
template <typename Call>
std::string Outcome(Call call) {
    try {
        if constexpr (std::is_void_v<decltype(call())>) {
            call();
            return "";
        } else {
            return call();
        }
    } catch (const sys::RegistryError& error) {
        return "error " + std::to_string(error.Value());
    }
}

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
        key.Open(create, false, sys::Registry::kView32);
    }
    // A stored value, read through a key of its own: a string's text, "dword:<number>" for a
    // DWORD, or the error of the reads.
    static std::string Stored(const std::string& name, const std::string& subkey = kServiceKey) {
        sys::Registry key;
        std::string text;
        const std::string asText = Outcome([&] {
            OpenKey(key, subkey, false);
            return key.ReadString(name, text), text;
        });
        std::uint32_t number = 0;
        return asText != "error 9" ? asText : Outcome([&] {
            return key.ReadDWord(name, number), "dword:" + std::to_string(number);
        });
    }

    testsupport::SettingsSandbox sandbox_;
};

}  // namespace regtest
