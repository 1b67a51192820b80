#pragma once

#include <string>
#include <vector>

#include "common/sys/OperatingSystemInfo.h"

namespace sys {

// Where the operating-system record is read from; tests point these at files of their own.
struct OperatingSystemSources {
    // The first of these files that can be read is taken.
    std::vector<std::string> osReleaseFiles{"/etc/os-release", "/usr/lib/os-release"};
    std::string procFolder = "/proc";
    // Empty: the utmp file of the root ($CORVANE_ROOT/run/utmp, or the system's).
    std::string utmpFile;
};

// What OperatingSystemInfo::Query does, from these sources.
void QueryOperatingSystem(OperatingSystemInfo& info, const OperatingSystemSources& sources);

}  // namespace sys
