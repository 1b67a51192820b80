#include "tests/support/Environment.h"

#include <stdlib.h>
#include <time.h>
#include <windows.h>

#include "common/sys/windows/Owned.h"

namespace testsupport {

// An empty value removes the variable from the C library's environment.
void SetVariable(const char* name, const char* value) {
    ::_putenv_s(name, value ? value : "");
}

void UseTimeZone(const char* zone) {
    SetVariable("TZ", zone);
    ::_tzset();
}

namespace {

using Key = sys::win::Owned<HKEY, ::RegCloseKey>;

// Every key of the agent's below Software, the parent of its own key included.
constexpr const char* kAgentKeys = "Corvane";

// Copies the keys below from's subkey into to's, which is made when missing; false when from
// has no such subkey.
bool CopyKeys(HKEY from, const std::string& fromKey, HKEY to, const std::string& toKey) {
    Key source;
    Key target;
    return ::RegOpenKeyExA(from, fromKey.c_str(), 0, KEY_READ, source.Put()) == ERROR_SUCCESS &&
           ::RegCreateKeyExA(to, toKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             target.Put(), nullptr) == ERROR_SUCCESS &&
           ::RegCopyTreeA(source.Get(), nullptr, target.Get()) == ERROR_SUCCESS;
}

}  // namespace

// The agent's keys wait in a key of the test process's own below HKEY_CURRENT_USER.
struct SettingsSandbox::SetAside {
    SetAside() {
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                        software.Put());
        kept = CopyKeys(software.Get(), kAgentKeys, HKEY_CURRENT_USER, keptKey);
        ::RegDeleteTreeA(software.Get(), kAgentKeys);
    }
    ~SetAside() {
        ::RegDeleteTreeA(software.Get(), kAgentKeys);
        if (kept) {
            CopyKeys(HKEY_CURRENT_USER, keptKey, software.Get(), kAgentKeys);
            ::RegDeleteTreeA(HKEY_CURRENT_USER, keptKey.c_str());
        }
    }

    // HKLM\Software in the 32-bit view, where the agent keeps its keys.
    Key software;
    std::string keptKey = "Software\\Corvane Test\\kept-" + std::to_string(::GetCurrentProcessId());
    bool kept = false;
};

SettingsSandbox::SettingsSandbox() : setAside_(new SetAside) {}

SettingsSandbox::~SettingsSandbox() = default;

}  // namespace testsupport
