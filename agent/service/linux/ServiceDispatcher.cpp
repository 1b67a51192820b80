#include "agent/service/linux/ServiceDispatcher.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include "agent/log/AgentLog.h"
#include "common/err/Errors.h"
#include "common/sys/ServiceNotify.h"
#include "common/sys/linux/ServiceEvents.h"
#include "common/util/LogLine.h"
#include "common/util/StringUtils.h"

namespace {

constexpr const char* kSource = "ServiceControl";

std::atomic<CServiceDispatcher*> active{nullptr};

// Logging is best effort on the control thread: a log that cannot be written must not keep
// the service from stopping.
constexpr logging::CBestEffortLog kBestEffortLog;

std::string NotifyText(const WindowsServices::ServiceStatus& status) {
    const std::uint32_t point = status.checkPoint;
    switch (status.currentState) {
        case WindowsServices::kServiceStartPending:
            return util::Format("STATUS=Starting, check point %u", point);
        case WindowsServices::kServiceRunning:
            return util::Format("READY=1\nSTATUS=Running, check point %u", point);
        case WindowsServices::kServiceStopPending:
            return util::Format(
                "STOPPING=1\nEXTEND_TIMEOUT_USEC=%llu\nSTATUS=Stopping, check point %u",
                status.waitHint * 1000ULL, point);
        case WindowsServices::kServiceStopped:
            return util::Format("STATUS=Stopped, check point %u", point);
        default:
            return util::Format("STATUS=State %u, check point %u", status.currentState, point);
    }
}

}  // namespace

CServiceDispatcher::CServiceDispatcher(WindowsServices::WinSvcEntry& entry) : entry_(entry) {}

CServiceDispatcher* CServiceDispatcher::Active() {
    return active.load();
}

// The signals are blocked before the main routine's thread exists, so that no thread of
// the service ever takes them.
void CServiceDispatcher::Run() {
    sys::ServiceEvents events(sys::UtmpSessions::DefaultPath());
    events_ = &events;
    active.store(this);
    std::thread mainRoutine(&CServiceDispatcher::RunMainRoutine, this);
    registered_.Wait(lang::kInfinite);
    std::unique_lock lock(handlerLock_);
    const bool controlled = handler_ != nullptr;
    lock.unlock();
    while (controlled && !stopped_) {
        for (const sys::ServiceEvent& event : events.Wait()) {
            if (!stopped_) {
                Handle(event);
            }
        }
    }
    mainRoutine.join();
    entry_.SetStatusHandle(nullptr);
    active.store(nullptr);
    events_ = nullptr;
}

void CServiceDispatcher::RunMainRoutine() {
    std::string name = entry_.GetServiceName();
    char* argv[] = {name.data(), nullptr};
    try {
        entry_.GetServiceMain()(1, argv);
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error,
                   "- the service main routine failed\n\t%s:%d - %s", e.Source(), e.Line(),
                   e.Message());
    }
    registered_.Set();
    EndControls();
}

// The control thread waits for outside events: it is woken when the service is over.
void CServiceDispatcher::EndControls() {
    stopped_ = true;
    events_->Wake();
}

bool CServiceDispatcher::Register(const char* name, WindowsServices::ControlHandlerFunction handler,
                                  void* context) {
    if (name == nullptr || std::strcmp(name, entry_.GetServiceName()) != 0 || handler == nullptr) {
        return false;
    }
    {
        std::lock_guard guard(handlerLock_);
        handler_ = handler;
        context_ = context;
    }
    // The entry can report from the first control on, even before the main routine has
    // stored the handle itself.
    entry_.SetStatusHandle(this);
    registered_.Set();
    return true;
}

bool CServiceDispatcher::SetServiceStatus(const WindowsServices::ServiceStatus& status) {
    if (status.currentState == WindowsServices::kServiceStopped) {
        EndControls();
    }
    const int error = sys::NotifyServiceManager(NotifyText(status));
    errno = error;
    return error == 0;
}

void CServiceDispatcher::Handle(const sys::ServiceEvent& event) {
    using Kind = sys::ServiceEvent::Kind;
    switch (event.kind) {
        case Kind::Stop:
            WARDEX_LOG(kBestEffortLog, LogLevel::Information,
                       "- signal %d received, stopping the service", event.signal);
            Control(WindowsServices::kControlStop, 0);
            break;
        case Kind::Logon:
            WARDEX_LOG(kBestEffortLog, LogLevel::Information, "- logon of %s", event.text.c_str());
            Control(WindowsServices::kControlSessionChange, WindowsServices::kSessionLogon);
            break;
        case Kind::Logoff:
            WARDEX_LOG(kBestEffortLog, LogLevel::Information, "- logoff of %s", event.text.c_str());
            Control(WindowsServices::kControlSessionChange, WindowsServices::kSessionLogoff);
            break;
        case Kind::OtherChange:
            WARDEX_LOG(kBestEffortLog, LogLevel::Debug, "- %s changed, no logon or logoff",
                       event.text.c_str());
            break;
        case Kind::Problem:
            WARDEX_LOG(kBestEffortLog, LogLevel::Error, "- %s", event.text.c_str());
            break;
    }
}

// Whatever the handler raises stays here: the control thread must go on to the end.
void CServiceDispatcher::Control(std::uint32_t control, std::uint32_t eventType) {
    std::unique_lock lock(handlerLock_);
    const WindowsServices::ControlHandlerFunction handler = handler_;
    void* context = context_;
    lock.unlock();
    try {
        handler(control, eventType, nullptr, context);
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error, "- control %u failed\n\t%s:%d - %s", control,
                   e.Source(), e.Line(), e.Message());
    } catch (...) {
        WARDEX_LOG(kBestEffortLog, LogLevel::Error, "- control %u failed with an unknown error",
                   control);
    }
}
