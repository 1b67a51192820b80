#pragma once

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "common/err/Errors.h"
#include "common/sys/CurrentProcess.h"
#include "common/sys/Registry.h"

namespace regtest {

// Each test works below a key of its own process, made anew for the test and deleted after
// it. On Windows the key is in the registry of the test run's throw-away Wine prefix; on
// Linux in a store file below a scratch root (RegistryStoreTest relocates the root for the
// whole program).
class RegistryFixture : public ::testing::Test {
protected:
    RegistryFixture() { RemoveTestKey(); }
    ~RegistryFixture() override { RemoveTestKey(); }

    static std::string TestKey(const std::string& below = "") {
        const std::string key =
            "Software\\Corvane Test\\" + std::to_string(sys::CurrentProcessId());
        return below.empty() ? key : key + "\\" + below;
    }
    static void OpenKey(sys::Registry& key, const std::string& below = "", bool create = true) {
        key.SetKey(sys::RegistryRoot::CurrentUser, TestKey(below));
        key.Open(create, false, 0);
    }

private:
    static void RemoveTestKey() {
        try {
            sys::Registry key;
            OpenKey(key, "", false);
            key.Delete(true);
        } catch (const sys::RegistryError&) {
        }
    }
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

// What a call gives: its result, or "error <value>" when it raises a registry error.
inline std::string Outcome(const std::function<std::string()>& call) {
    try {
        return call();
    } catch (const sys::RegistryError& error) {
        return "error " + std::to_string(error.Value());
    }
}
}  // namespace regtest
