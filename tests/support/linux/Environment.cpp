#include "tests/support/Environment.h"

#include <stdlib.h>
#include <time.h>

namespace testsupport {

void SetVariable(const char* name, const char* value) {
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

void UseTimeZone(const char* zone) {
    SetVariable("TZ", zone);
    ::tzset();
}

}  // namespace testsupport
