#pragma once

#include <cstdint>
#include <string>

// On Linux the service manager is systemd: the service is a unit file in the unit folder,
// enabled by its link in "multi-user.target.wants". With a relocated root only the unit file
// and the link are written and removed; systemctl is never called.

// The unit file that runs the program as the service: a notify service started with the
// system, whose ExecStart is the program path, one blank and the argument text.
std::string UnitText(const std::string& name, const std::string& programPath,
                     const std::string& argumentText);

namespace ServiceControl {

inline constexpr std::uint32_t kManagerCreateService = 2;
inline constexpr std::uint32_t kManagerAllAccess = 0xF003F;

// The unit folder, opened for the access asked; raises "Failed to Open ServiceManager
// service" when it cannot be created, or not written to when the access asks for it.
struct Manager {
    std::string unitFolder;
};
Manager OpenManager(std::uint32_t access);

// The unit file's name for a service name: "Corvane Deployment Agent" ->
// "corvane-deployment-agent.service".
std::string UnitName(const std::string& name);

}  // namespace ServiceControl
