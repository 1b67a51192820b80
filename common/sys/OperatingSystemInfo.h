#pragma once

#include <cstdint>
#include <string>

namespace sys {

// What the agent reports about the operating system it runs on: one record of the 37
// properties that WMI's Win32_OperatingSystem class gives on Windows, under the same names.
// Windows fills them from WMI; a property WMI reports as null stays empty. On Linux the
// values come from os-release, uname, /proc and utmp (the field notes below), a property
// that has no meaning there stays empty, 0 or false, and SystemDrive is the agent's root:
// $CORVANE_ROOT, or "/" when the variable is unset.
class OperatingSystemInfo {
public:
    virtual ~OperatingSystemInfo() = default;

    // Fills the record. Never raises: what cannot be read stays empty or 0.
    void Query();
    std::string GetSystemDrive() const { return SystemDrive; }

    std::string BootDevice;   // device mounted at /boot, else the root device
    std::string BuildNumber;  // kernel build (uname version)
    std::string BuildType;
    std::string CodeSet;
    std::string CountryCode;
    std::string CSDVersion;
    bool Debug = false;
    std::string Description;
    bool Distributed = false;
    std::uint32_t EncryptionLevel = 0;
    std::string Locale;
    std::string Manufacturer;                // os-release VENDOR_NAME, else NAME
    std::uint32_t MaxNumberOfProcesses = 0;  // kernel pid_max
    std::string Name;                        // os-release PRETTY_NAME
    std::uint32_t NumberOfLicensedUsers = 0;
    std::uint32_t NumberOfProcesses = 0;  // process folders in /proc
    std::uint32_t NumberOfUsers = 0;      // user sessions in utmp
    std::uint32_t OperatingSystemSKU = 0;
    std::string Organization;
    std::string OSArchitecture;  // machine (uname), e.g. x86_64
    std::uint32_t OSLanguage = 0;
    std::uint32_t OSProductSuite = 0;
    std::string OtherTypeDescription;
    bool Primary = false;  // true: the running system
    std::uint32_t ProductType = 0;
    std::uint8_t QuantumLength = 0;
    std::uint8_t QuantumType = 0;
    std::string RegisteredUser;
    std::string SerialNumber;
    std::uint16_t ServicePackMajorVersion = 0;
    std::uint16_t ServicePackMinorVersion = 0;
    std::uint32_t SuiteMask = 0;
    std::string SystemDevice;  // device mounted at /
    std::string SystemDirectory;
    std::string SystemDrive;
    std::string Version;  // kernel release (uname)
    std::string WindowsDirectory;
};

}  // namespace sys
