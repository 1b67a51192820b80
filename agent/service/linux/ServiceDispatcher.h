#pragma once

#include <atomic>
#include <mutex>

#include "agent/service/WinSvcEntry.h"
#include "common/lang/Event.h"

namespace sys {
struct ServiceEvent;
class ServiceEvents;
}  // namespace sys

// Runs one service for the service manager: the main routine on a thread of its own, and on
// the calling thread the controls that stop signals and logons or logoffs become, until the
// service reports SERVICE_STOPPED (from either thread) or the main routine returns. Status reports
// go to the service manager as notify messages: START_PENDING and STOPPED as a status text, RUNNING
// as "READY=1", STOP_PENDING as "STOPPING=1" with the wait hint as a time-out extension; each
// carries its check point.
class CServiceDispatcher final : public WindowsServices::IStatusHandle {
public:
    explicit CServiceDispatcher(WindowsServices::WinSvcEntry& entry);

    void Run();

    // The dispatcher of the service being run, if any.
    static CServiceDispatcher* Active();

    // The main routine registers its control handler here.
    bool Register(const char* name, WindowsServices::ControlHandlerFunction handler, void* context);
    bool SetServiceStatus(const WindowsServices::ServiceStatus& status) override;

private:
    void RunMainRoutine();
    void Handle(const sys::ServiceEvent& event);
    void Control(std::uint32_t control, std::uint32_t eventType);
    void EndControls();

    WindowsServices::WinSvcEntry& entry_;
    std::mutex handlerLock_;
    WindowsServices::ControlHandlerFunction handler_ = nullptr;
    void* context_ = nullptr;
    // Set once the main routine has registered its handler or returned without.
    lang::CEvent registered_{lang::EventReset::Manual};
    // Set once the service has reported SERVICE_STOPPED or its main routine has returned.
    std::atomic<bool> stopped_{false};
    // The control thread's events, for the time Run waits on them.
    sys::ServiceEvents* events_ = nullptr;
};
