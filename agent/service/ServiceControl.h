#pragma once

#include <string>

#include "agent/service/WinSvcEntry.h"

// The agent's service as the system's service manager knows it.
inline constexpr char kServiceName[] = "Corvane Deployment Agent";
// The start type that starts the service with the system.
inline constexpr int kAutomaticStart = 2;

// Access to the system's service manager. Every operation catches its own errors, logs them
// and returns false, except StartService, which raises WindowsServices::ServiceControlError
// when the service is already running.
namespace ServiceControl {

// Registers the service that runs the program with the argument text and the start type,
// the program's path quoted as the system's command line needs it, and has it restarted
// after a failure (a setting the system refuses is logged and does not fail the
// installation). Fails without changing anything when the service exists.
bool Install(const char* name, const char* programPath, const std::string& argumentText,
             int startType);
// Removes the service without stopping it when it runs.
bool Delete(const char* name);
// True when the service manager reports the service running.
bool IsRunning(const char* name);
// Runs the service: its main routine on a thread of its own while the calling thread
// becomes the control thread, until the service has reported SERVICE_STOPPED. False at
// once when the process was not started by the service manager.
bool StartService(WindowsServices::WinSvcEntry& entry);

// The main routine's registration of its control handler with the running dispatcher: the
// status handle, or null when no service of that name is being run.
WindowsServices::IStatusHandle* RegisterControlHandler(
    const char* name, WindowsServices::ControlHandlerFunction handler, void* context);

}  // namespace ServiceControl
