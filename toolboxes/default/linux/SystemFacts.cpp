#include "default/SystemFacts.h"

#include <fstream>
#include <sys/utsname.h>

namespace tbx {
namespace {

// The value of one key of an os-release file, without its quotes.
std::string OsReleaseValue(const std::string& key) {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream file(path);
        for (std::string line; std::getline(file, line);) {
            if (line.rfind(key + "=", 0) != 0) {
                continue;
            }
            std::string value = line.substr(key.size() + 1);
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            return value;
        }
    }
    return {};
}

std::string FirstLine(const char* path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

void SetIfKnown(msg::IQXMessage& message, const char* name, const std::string& value) {
    if (!value.empty()) {
        message.SetField(name, value.c_str());
    }
}

}  // namespace

std::string HostName() {
    utsname names{};
    return ::uname(&names) == 0 ? names.nodename : "";
}

std::string MachineIdentity() {
    const std::string machineId = FirstLine("/etc/machine-id");
    return machineId.empty() ? HostName() : machineId;
}

void AddSystemFacts(msg::IQXMessage& message) {
    utsname names{};
    if (::uname(&names) == 0) {
        SetIfKnown(message, "HostName", names.nodename);
        SetIfKnown(message, "OS-Kernel", names.release);
        SetIfKnown(message, "OS-Architecture", names.machine);
    }
    SetIfKnown(message, "OS-Name", OsReleaseValue("PRETTY_NAME"));
}

}  // namespace tbx
