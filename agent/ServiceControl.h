#pragma once

#include <string>

#include "common/util/ParamList.h"

// The agent's service as the system's service manager knows it.
inline constexpr char kServiceName[] = "Corvane Deployment Agent";
// The start type that starts the service with the system.
inline constexpr int kAutomaticStart = 2;

// Access to the system's service manager. Every operation catches its own errors and
// reports failure by returning false, except StartService, which raises
// WindowsServices::ServiceControlError when the service is already running.
class IServiceControl {
public:
    virtual ~IServiceControl() = default;

    // Registers the service to run the program with the argument text.
    virtual bool Install(const std::string& serviceName, const std::string& programPath,
                         const std::string& arguments, int startType) = 0;
    // Removes the service's registration; a running service goes on running.
    virtual bool Delete(const std::string& serviceName) = 0;
    // Hands the process to the service manager, which runs the agent with the toolbox list,
    // and returns once the service has stopped; false at once when the process was not
    // started by the service manager.
    virtual bool StartService(const util::ParamList& toolboxes) = 0;
    virtual bool IsRunning(const std::string& serviceName) = 0;
};

// The service control of this program.
IServiceControl& ServiceControl();
