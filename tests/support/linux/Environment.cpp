#include "tests/support/Environment.h"

#include <stdlib.h>
#include <time.h>

#include "tests/support/ScopedRoot.h"

namespace testsupport {

void SetVariable(const char* name, const char* value) {
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

void UseTimeZone(const char* zone) {
    SetVariable("TZ", zone);
    ::tzset();
}

struct SettingsSandbox::SetAside {
    scratch::ScopedRoot root;
};

SettingsSandbox::SettingsSandbox()
    : setAside_(new SetAside{scratch::ScopedRoot(folder_.Path().c_str())}) {}

SettingsSandbox::~SettingsSandbox() = default;

}  // namespace testsupport
