#pragma once

#include <string>

#include "common/sys/OperatingSystemInfo.h"

namespace sys {

// Where the operating-system record is read from; tests point it at a class that is not
// there.
struct OperatingSystemSources {
    std::wstring nameSpace = L"ROOT\\CIMV2";
    std::wstring className = L"Win32_OperatingSystem";
};

// What OperatingSystemInfo::Query does, from these sources.
void QueryOperatingSystem(OperatingSystemInfo& info, const OperatingSystemSources& sources);

}  // namespace sys
