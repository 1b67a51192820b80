#include <utmp.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/utsname.h>

#include "common/sys/Root.h"
#include "common/sys/linux/OperatingSystemSources.h"

namespace sys {

namespace {

using Assignments = std::map<std::string, std::string>;

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// An os-release value as the shell would read it: quotes removed, backslash escapes undone.
std::string ShellValue(const std::string& raw) {
    std::string value;
    char quote = '\0';
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote == '\0' && (c == '"' || c == '\'')) {
            quote = c;
        } else if (c == quote) {
            quote = '\0';
        } else if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
            value += raw[++i];
        } else {
            value += c;
        }
    }
    return value;
}

std::optional<Assignments> ReadAssignments(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        return std::nullopt;
    }
    Assignments assignments;
    for (std::string line; std::getline(file, line);) {
        const auto equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string::npos) {
            continue;
        }
        assignments[line.substr(0, equals)] = ShellValue(line.substr(equals + 1));
    }
    return assignments;
}

std::string ValueOf(const Assignments& assignments, const std::string& key) {
    const auto found = assignments.find(key);
    return found == assignments.end() ? std::string() : found->second;
}

// A field of the mount table, whose blanks and backslashes are written as octal escapes.
std::string MountField(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsDigit(field[i + 1]) &&
            IsDigit(field[i + 2]) && IsDigit(field[i + 3])) {
            text += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// The device mounted at the mount point; a later mount over the same point hides the
// earlier one. Empty when nothing is mounted there.
std::string MountedDevice(const std::string& mountsFile, const std::string& mountPoint) {
    std::ifstream mounts(mountsFile);
    std::string device;
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string source;
        std::string target;
        if (fields >> source >> target && MountField(target) == mountPoint) {
            device = MountField(source);
        }
    }
    return device;
}

std::optional<std::uint64_t> ReadNumber(const std::string& path) {
    std::ifstream file(path);
    std::uint64_t number = 0;
    if (file >> number) {
        return number;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> CountProcesses(const std::string& procFolder) {
    std::error_code error;
    std::filesystem::directory_iterator entry(procFolder, error);
    if (error) {
        return std::nullopt;
    }
    std::uint32_t count = 0;
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.empty() && std::all_of(name.begin(), name.end(), IsDigit)) {
            ++count;
        }
    }
    return count;
}

std::optional<std::uint32_t> CountUserSessions(const std::string& utmpFile) {
    std::ifstream file(utmpFile, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::uint32_t count = 0;
    utmp entry{};
    while (file.read(reinterpret_cast<char*>(&entry), sizeof entry)) {
        if (entry.ut_type == USER_PROCESS) {
            ++count;
        }
    }
    return count;
}

void ReadOsRelease(const Assignments& release, OperatingSystemInfo& info) {
    info.Name = ValueOf(release, "PRETTY_NAME");
    info.Manufacturer = ValueOf(release, "VENDOR_NAME");
    if (info.Manufacturer.empty()) {
        info.Manufacturer = ValueOf(release, "NAME");
    }
}

void ReadKernel(OperatingSystemInfo& info) {
    utsname kernel{};
    if (::uname(&kernel) != 0) {
        return;
    }
    info.Version = kernel.release;
    info.BuildNumber = kernel.version;
    info.OSArchitecture = kernel.machine;
}

void ReadProc(const std::string& procFolder, OperatingSystemInfo& info) {
    const std::string mounts = procFolder + "/self/mounts";
    info.SystemDevice = MountedDevice(mounts, "/");
    info.BootDevice = MountedDevice(mounts, "/boot");
    if (info.BootDevice.empty()) {
        info.BootDevice = info.SystemDevice;
    }
    if (const auto pidMax = ReadNumber(procFolder + "/sys/kernel/pid_max")) {
        info.MaxNumberOfProcesses = static_cast<std::uint32_t>(*pidMax);
    }
    if (const auto processes = CountProcesses(procFolder)) {
        info.NumberOfProcesses = *processes;
    }
}

std::string RootUtmpFile() {
    return IsRootRelocated() ? UnderRoot("run/utmp") : _PATH_UTMP;
}

}  // namespace

void QueryOperatingSystem(OperatingSystemInfo& info, const OperatingSystemSources& sources) {
    for (const std::string& path : sources.osReleaseFiles) {
        if (const auto release = ReadAssignments(path)) {
            ReadOsRelease(*release, info);
            break;
        }
    }
    ReadKernel(info);
    ReadProc(sources.procFolder, info);
    if (const auto users =
            CountUserSessions(sources.utmpFile.empty() ? RootUtmpFile() : sources.utmpFile)) {
        info.NumberOfUsers = *users;
    }
    info.Primary = true;
    info.SystemDrive = RootPath();
}

void OperatingSystemInfo::Query() {
    QueryOperatingSystem(*this, OperatingSystemSources());
}

}  // namespace sys
