#pragma once

#include <cstdint>
#include <mutex>

namespace WindowsServices {

// Service states as the status record carries them.
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;

// Control codes that reach a control handler, and the session events of a session change.
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;
inline constexpr std::uint32_t kControlSessionChange = 14;
// Sent before the system's shutdown to the services that accept it, with the service's
// preshutdown time-out to end in, where the shutdown control leaves a few seconds.
inline constexpr std::uint32_t kControlPreshutdown = 15;
inline constexpr std::uint32_t kSessionLogon = 5;
inline constexpr std::uint32_t kSessionLogoff = 6;
inline constexpr std::uint32_t kSessionLock = 7;
// A control handler's answer to a control it does not take.
inline constexpr std::uint32_t kCallNotImplemented = 120;
// The exit code of a service whose main routine ended on an unexpected error.
inline constexpr std::uint32_t kExceptionInService = 1064;

inline constexpr std::uint32_t kOwnProcess = 16;
inline constexpr std::uint32_t kAcceptStop = 0x01;
inline constexpr std::uint32_t kAcceptShutdown = 0x04;
inline constexpr std::uint32_t kAcceptSessionChange = 0x80;
inline constexpr std::uint32_t kAcceptPreshutdown = 0x100;

struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

using ServiceMainFunction = void (*)(std::uint32_t argc, char** argv);
using ControlHandlerFunction = std::uint32_t (*)(std::uint32_t control, std::uint32_t eventType,
                                                 void* eventData, void* context);

// Where a registered service sends its status: the service manager's side of the control
// handler's registration.
class IStatusHandle {
public:
    virtual ~IStatusHandle() = default;
    // False when the report could not be delivered; the system error is then in errno.
    virtual bool SetServiceStatus(const ServiceStatus& status) = 0;
};

// A service as the service manager sees it: its main routine, its control handler, its
// name, and the status it reports.
class WinSvcEntry {
public:
    WinSvcEntry() = default;
    WinSvcEntry(const WinSvcEntry&) = delete;
    WinSvcEntry& operator=(const WinSvcEntry&) = delete;
    virtual ~WinSvcEntry() = default;

    virtual ServiceMainFunction GetServiceMain() const = 0;
    virtual ControlHandlerFunction GetControlHandler() const = 0;
    virtual const char* GetServiceName() const = 0;

    // Reports the state with the next check point; the check point is never set back, so
    // it grows over the whole life of the service. Raises ServiceControlError "Failed to
    // Report Service Status" when the report cannot be delivered. Safe from any thread.
    void ReportStatus(std::uint32_t state, std::uint32_t exitCode, std::uint32_t waitHint);

    void SetStatusHandle(IStatusHandle* handle);

protected:
    ServiceStatus status_;

private:
    std::mutex statusLock_;
    IStatusHandle* statusHandle_ = nullptr;
};

}  // namespace WindowsServices
