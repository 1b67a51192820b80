#pragma once

#include <cstdint>
#include <string>

#include "agent/service/WinSvcEntry.h"

// The agent's service as the system's service manager knows it.
inline constexpr char kServiceName[] = "Corvane Deployment Agent";
// The start type that starts the service with the system.
inline constexpr int kAutomaticStart = 2;

// Access to the system's service manager (systemd): the service is a unit file in the unit
// folder, enabled by its link in "multi-user.target.wants". With a relocated root only the
// unit file and the link are written and removed; systemctl is never called. Every
// operation catches its own errors, logs them and returns false, except StartService,
// which raises WindowsServices::ServiceControlError when the service is already running.
namespace ServiceControl {

inline constexpr std::uint32_t kManagerCreateService = 2;
inline constexpr std::uint32_t kManagerAllAccess = 0xF003F;

// The unit folder, opened for the access asked; raises "Failed to Open ServiceManager
// service" when it cannot be created, or not written to when the access asks for it.
struct Manager {
    std::string unitFolder;
};
Manager OpenManager(std::uint32_t access);

// Writes the unit that runs "programPath argumentText" and, for the automatic start type,
// enables it. Fails without changing anything when the unit exists.
bool Install(const char* name, const char* programPath, const std::string& argumentText,
             int startType);
// Disables and deletes the unit without stopping a running service.
bool Delete(const char* name);
// True when the service manager reports the unit active; false where it does not run.
bool IsRunning(const char* name);
// Runs the service: its main routine on a thread of its own while the calling thread
// becomes the control thread, until the service has reported SERVICE_STOPPED. False at
// once when the process was not started by the service manager.
bool StartService(WindowsServices::WinSvcEntry& entry);

// The main routine's registration of its control handler with the running dispatcher: the
// status handle, or null when no service of that name is being run.
WindowsServices::IStatusHandle* RegisterControlHandler(
    const char* name, WindowsServices::ControlHandlerFunction handler, void* context);

// The unit file's name for a service name: "Corvane Deployment Agent" ->
// "corvane-deployment-agent.service".
std::string UnitName(const std::string& name);

}  // namespace ServiceControl
