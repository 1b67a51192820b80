#include "agent/service/ServiceControl.h"

#include <windows.h>

#include <atomic>

#include "agent/log/AgentLog.h"
#include "agent/service/windows/ControlRelay.h"
#include "agent/service/windows/ServiceRecovery.h"
#include "common/err/Errors.h"
#include "common/sys/windows/Owned.h"
#include "common/util/LogLine.h"

// The system's header names its own StartService as a macro; this file defines the agent's.
#undef StartService

namespace ServiceControl {

namespace {

constexpr const char* kSource = "ServiceControl";

using ServiceHandle = sys::win::Owned<SC_HANDLE, ::CloseServiceHandle>;

// Logging is best effort here: the dispatcher's threads must go on without a log file.
constexpr logging::CBestEffortLog kBestEffortLog;

[[noreturn]] void Raise(const char* message, int line) {
    throw WindowsServices::ServiceControlError(kSource, message, line, 0, ::GetLastError());
}

// The operations report their failures themselves: their callers only see false.
bool Failed(const char* operation, const err::CGeneralError& e) {
    WARDEX_LOG(kBestEffortLog, LogLevel::Error, "ServiceControl::%s - %s (system error %u)",
               operation, e.Message(), e.SystemError());
    return false;
}

ServiceHandle OpenManager(DWORD access) {
    ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, access));
    if (!manager) {
        Raise("Failed to Open ServiceManager service", __LINE__);
    }
    return manager;
}

ServiceHandle OpenNamedService(const ServiceHandle& manager, const char* name, DWORD access) {
    ServiceHandle service(::OpenServiceA(manager.Get(), name, access));
    if (!service) {
        Raise("Failed to open service", __LINE__);
    }
    return service;
}

// The status handle the control handler's registration gives: reports go to the service
// control manager. The handle belongs to the manager and is never closed.
class CManagerStatus final : public WindowsServices::IStatusHandle {
public:
    void Attach(SERVICE_STATUS_HANDLE handle) { handle_ = handle; }

    bool SetServiceStatus(const WindowsServices::ServiceStatus& status) override {
        SERVICE_STATUS record{};
        record.dwServiceType = status.serviceType;
        record.dwCurrentState = status.currentState;
        record.dwControlsAccepted = status.controlsAccepted;
        record.dwWin32ExitCode = status.win32ExitCode;
        record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
        record.dwCheckPoint = status.checkPoint;
        record.dwWaitHint = status.waitHint;
        return ::SetServiceStatus(handle_, &record) != FALSE;
    }

private:
    SERVICE_STATUS_HANDLE handle_ = nullptr;
};

// One service runs in this process: the entry the dispatcher runs, its control handler and
// where its status goes.
std::atomic<WindowsServices::WinSvcEntry*> activeEntry{nullptr};
ControlRegistration registration;
CManagerStatus managerStatus;

// The dispatcher's call of the main routine on a thread of its own. An error must not go
// back into the dispatcher.
void WINAPI RunServiceMain(DWORD argc, LPSTR* argv) {
    WindowsServices::WinSvcEntry* entry = activeEntry.load();
    try {
        entry->GetServiceMain()(argc, argv);
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                   "- the service main routine failed\n\t%s:%d - %s", e.Source(), e.Line(),
                   e.Message());
    }
}

}  // namespace

DWORD WINAPI RelayControl(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    const auto* target = static_cast<const ControlRegistration*>(context);
    try {
        return target->handler(control, eventType, eventData, target->context);
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error, "- control %lu failed\n\t%s:%d - %s", control,
                   e.Source(), e.Line(), e.Message());
    } catch (...) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error, "- control %lu failed with an unknown error",
                   control);
    }
    return NO_ERROR;
}

bool Install(const char* name, const char* programPath, const std::string& argumentText,
             int startType) {
    try {
        const ServiceHandle manager = OpenManager(SC_MANAGER_CREATE_SERVICE);
        // Quoted, so that a path with blanks ("C:\Program Files\...") cannot be read as a
        // shorter program ("C:\Program.exe") followed by arguments.
        const std::string commandLine = "\"" + std::string(programPath) + "\" " + argumentText;
        const ServiceHandle service(::CreateServiceA(
            manager.Get(), name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
            static_cast<DWORD>(startType), SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr,
            nullptr, nullptr, nullptr, nullptr));
        if (!service) {
            Raise("Failed to CreateService", __LINE__);
        }
        ConfigureRecovery(service.Get());
        return true;
    } catch (const WindowsServices::ServiceControlError& e) {
        return Failed("Install", e);
    }
}

bool Delete(const char* name) {
    try {
        const ServiceHandle manager = OpenManager(SC_MANAGER_ALL_ACCESS);
        const ServiceHandle service = OpenNamedService(manager, name, DELETE);
        if (!::DeleteService(service.Get())) {
            Raise("Failed to delete service", __LINE__);
        }
        return true;
    } catch (const WindowsServices::ServiceControlError& e) {
        return Failed("Delete", e);
    }
}

bool IsRunning(const char* name) {
    try {
        const ServiceHandle manager = OpenManager(SC_MANAGER_CREATE_SERVICE);
        const ServiceHandle service = OpenNamedService(manager, name, SERVICE_ALL_ACCESS);
        SERVICE_STATUS status{};
        return ::QueryServiceStatus(service.Get(), &status) &&
               status.dwCurrentState == SERVICE_RUNNING;
    } catch (const WindowsServices::ServiceControlError&) {
        return false;
    }
}

bool StartService(WindowsServices::WinSvcEntry& entry) {
    if (IsRunning(entry.GetServiceName())) {
        Raise("StartService - Service is already running", __LINE__);
    }
    std::string name = entry.GetServiceName();
    SERVICE_TABLE_ENTRYA table[] = {{name.data(), RunServiceMain}, {nullptr, nullptr}};
    activeEntry.store(&entry);
    const BOOL dispatched = ::StartServiceCtrlDispatcherA(table);
    const DWORD failure = ::GetLastError();
    entry.SetStatusHandle(nullptr);
    activeEntry.store(nullptr);
    if (!dispatched) {
        return Failed("StartService",
                      WindowsServices::ServiceControlError(kSource, "Failed to start service",
                                                           __LINE__, 0, failure));
    }
    return true;
}

WindowsServices::IStatusHandle* RegisterControlHandler(
    const char* name, WindowsServices::ControlHandlerFunction handler, void* context) {
    if (activeEntry.load() == nullptr || handler == nullptr) {
        return nullptr;
    }
    registration = {handler, context};
    const SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerExA(name, RelayControl, &registration);
    if (handle == nullptr) {
        return nullptr;
    }
    managerStatus.Attach(handle);
    return &managerStatus;
}

}  // namespace ServiceControl
