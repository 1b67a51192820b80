#include "agent/service/QxaServiceEntry.h"

#include <atomic>
#include <new>

#include "agent/log/AgentLog.h"
#include "agent/service/ServiceControl.h"
#include "common/err/Errors.h"
#include "common/lang/CriticalSection.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "QxaServiceEntry";
constexpr std::uint32_t kStatusWaitHintMs = 5000;
constexpr std::uint32_t kStopPeriodMs = 2000;
constexpr std::uint32_t kStopWaitHintMs = 3000;

std::atomic<QxaServiceEntry*> instance{nullptr};

logging::CAgentLog& Log() {
    return *logging::CAgentLog::GetInstance();
}

}  // namespace

QxaServiceEntry::QxaServiceDestroyer::~QxaServiceDestroyer() {
    delete instance.exchange(nullptr);
}

QxaServiceEntry* QxaServiceEntry::GetInstance() {
    static QxaServiceDestroyer destroyer;
    static lang::CriticalSection instanceLock;
    QxaServiceEntry* current = instance.load();
    if (current == nullptr) {
        std::lock_guard guard(instanceLock);
        current = instance.load();
        if (current == nullptr) {
            current = new (std::nothrow) QxaServiceEntry;
            instance.store(current);
        }
    }
    return current;
}

QxaServiceEntry::QxaServiceEntry() {
    status_.serviceType = WindowsServices::kOwnProcess;
    status_.controlsAccepted = WindowsServices::kAcceptStop | WindowsServices::kAcceptShutdown |
                               WindowsServices::kAcceptSessionChange;
}

const char* QxaServiceEntry::GetServiceName() const {
    return kServiceName;
}

void QxaServiceMain(std::uint32_t, char**) {
    WARDEX_LOG(Log(), LogLevel::Information, "- Entering QxaServiceMain()");
    QxaServiceEntry* entry = QxaServiceEntry::GetInstance();
    if (entry != nullptr) {
        entry->RunMain();
    }
    WARDEX_LOG(Log(), LogLevel::Information, "- Exit QxaServiceMain()");
}

void QxaServiceEntry::RunMain() {
    WARDEX_LOG(Log(), LogLevel::Information, "- Registering the ServiceControl proc");
    WindowsServices::IStatusHandle* handle =
        ServiceControl::RegisterControlHandler(GetServiceName(), GetControlHandler(), this);
    if (handle == nullptr) {
        return;
    }
    SetStatusHandle(handle);
    Start();
}

// Under the start lock, so that a stop sees either nothing started or a reported start.
void QxaServiceEntry::Start() {
    std::lock_guard guard(startLock_);
    if (stopRequested_) {
        WARDEX_LOG(Log(), LogLevel::Information,
                   "- Stop requested before the start, Bootstrap thread not started");
        return;
    }
    WARDEX_LOG(Log(), LogLevel::Information, "- Tell ServiceControl SERVICE_START_PENDING");
    TryReportStatus(WindowsServices::kServiceStartPending, kStatusWaitHintMs);
    WARDEX_LOG(Log(), LogLevel::Information, "- Start the Bootstrap thread");
    bootstrap_.SetToolboxList(toolboxes_);
    bootstrapStarted_ = bootstrap_.Start();
    if (!bootstrapStarted_) {
        WARDEX_LOG(Log(), LogLevel::Error, "- The Bootstrap thread could not be started");
    }
    WARDEX_LOG(Log(), LogLevel::Information, "- Tell ServiceControl SERVICE_RUNNING");
    TryReportStatus(WindowsServices::kServiceRunning, kStatusWaitHintMs);
}

std::uint32_t QxaServiceControl(std::uint32_t control, std::uint32_t eventType, void*, void*) {
    QxaServiceEntry* entry = QxaServiceEntry::GetInstance();
    WARDEX_LOG(Log(), LogLevel::Information, "- QxaServiceControl");
    return entry != nullptr ? entry->Control(control, eventType)
                            : WindowsServices::kCallNotImplemented;
}

std::uint32_t QxaServiceEntry::Control(std::uint32_t control, std::uint32_t eventType) {
    switch (control) {
        case WindowsServices::kControlStop:
        case WindowsServices::kControlShutdown:
            Stop();
            return 0;
        case WindowsServices::kControlContinue:
        case WindowsServices::kControlInterrogate:
            return 0;
        case WindowsServices::kControlSessionChange:
            SessionChange(eventType);
            return 0;
        default:
            return WindowsServices::kCallNotImplemented;
    }
}

void QxaServiceEntry::Stop() {
    bool started = false;
    {
        std::lock_guard guard(startLock_);
        stopRequested_ = true;
        started = bootstrapStarted_;
    }
    WARDEX_LOG(Log(), LogLevel::Information, "- Received SERVICE_CONTROL_STOP");
    WARDEX_LOG(Log(), LogLevel::Information, "- Sending SERVICE_STOP_PENDING");
    TryReportStatus(WindowsServices::kServiceStopPending, kStatusWaitHintMs);
    WARDEX_LOG(Log(), LogLevel::Information, "- Signal Bootstrap to exit");
    bootstrap_.SignalShutdown();
    if (started) {
        do {
            WARDEX_LOG(Log(), LogLevel::Information,
                       "- Waiting %d milliseconds for bootstrap thread to exit ",
                       static_cast<int>(kStopPeriodMs));
            TryReportStatus(WindowsServices::kServiceStopPending, kStopWaitHintMs);
        } while (!bootstrap_.WaitForEnd(kStopPeriodMs));
    } else {
        WARDEX_LOG(Log(), LogLevel::Information, "- no bootstrap thread was started");
    }
    WARDEX_LOG(Log(), LogLevel::Information, "- thread exited, sending  SERVICE_STOPPED");
    TryReportStatus(WindowsServices::kServiceStopped, kStatusWaitHintMs);
}

void QxaServiceEntry::SessionChange(std::uint32_t eventType) {
    WARDEX_LOG(Log(), LogLevel::Debug, "- SERVICE_CONTROL_SESSIONCHANGE\n\tdwEvent = %u ",
               eventType);
    if (eventType != WindowsServices::kSessionLogon &&
        eventType != WindowsServices::kSessionLogoff) {
        return;
    }
    WARDEX_LOG(Log(), LogLevel::Debug, "- Received SERVICE_CONTROL_SESSIONCHANGE");
    WARDEX_LOG(Log(), LogLevel::Information, "- Checking currently logged on users");
    bootstrap_.CheckUsers();
}

void QxaServiceEntry::TryReportStatus(std::uint32_t state, std::uint32_t waitHint) {
    try {
        ReportStatus(state, 0, waitHint);
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(Log(), LogLevel::Error, "- %s:%d - %s, state %u\n\tValue=%d, SystemError=0x%08X",
                   e.Source(), e.Line(), e.Message(), state, e.Value(), e.SystemError());
    }
}
