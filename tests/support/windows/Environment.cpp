#include "tests/support/Environment.h"

#include <stdlib.h>
#include <time.h>

namespace testsupport {

// An empty value removes the variable from the C library's environment.
void SetVariable(const char* name, const char* value) {
    ::_putenv_s(name, value ? value : "");
}

void UseTimeZone(const char* zone) {
    SetVariable("TZ", zone);
    ::_tzset();
}

}  // namespace testsupport
