#include "default/SystemFacts.h"

#include <windows.h>

#include "common/sys/OperatingSystemInfo.h"

namespace tbx {
namespace {

void SetIfKnown(msg::IQXMessage& message, const char* name, const std::string& value) {
    if (!value.empty()) {
        message.SetField(name, value.c_str());
    }
}

// A string value of a key below HKEY_LOCAL_MACHINE, in the system's own (64-bit) view.
std::string MachineString(const char* key, const char* name) {
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    const LSTATUS status =
        RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                     buffer, &size);
    return status == ERROR_SUCCESS ? buffer : "";
}

}  // namespace

std::string HostName() {
    char name[256] = {};
    DWORD size = sizeof name;
    return GetComputerNameExA(ComputerNameDnsHostname, name, &size) ? name : "";
}

std::string MachineIdentity() {
    const std::string guid = MachineString("SOFTWARE\\Microsoft\\Cryptography", "MachineGuid");
    return guid.empty() ? HostName() : guid;
}

// The record's Name is the product name, then the Windows folder and the system partition,
// joined by "|".
void AddSystemFacts(msg::IQXMessage& message) {
    sys::OperatingSystemInfo system;
    system.Query();
    SetIfKnown(message, "HostName", HostName());
    SetIfKnown(message, "OS-Name", system.Name.substr(0, system.Name.find('|')));
    SetIfKnown(message, "OS-Kernel", system.Version);
    SetIfKnown(message, "OS-Architecture", system.OSArchitecture);
}

}  // namespace tbx
