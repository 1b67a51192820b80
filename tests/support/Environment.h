#pragma once

#include <memory>
#include <string>

#include "tests/support/ScratchFiles.h"

// The process's environment as tests change it; each system has its own calls for it.
namespace testsupport {

// Sets the variable, or removes it for a null value.
void SetVariable(const char* name, const char* value);
// Sets the time zone "TZ" names and has the C library's local time follow it.
void UseTimeZone(const char* zone);

// The agent's settings, none while the object lives and as they were again when it goes, and
// a scratch folder for the test's other files. On Linux the settings store lies in that
// folder, the relocated root; on Windows the agent's keys in the registry of the test run's
// prefix are set aside and put back, so tests that use this take the CTest resource lock
// "agent_settings".
class SettingsSandbox {
public:
    SettingsSandbox();
    ~SettingsSandbox();
    SettingsSandbox(const SettingsSandbox&) = delete;
    SettingsSandbox& operator=(const SettingsSandbox&) = delete;

    std::string operator/(const std::string& name) const { return folder_ / name; }
    std::string Path() const { return folder_.Path().string(); }

private:
    struct SetAside;

    scratch::ScratchFolder folder_;
    std::unique_ptr<SetAside> setAside_;
};

}  // namespace testsupport
