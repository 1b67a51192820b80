#include "agent/QxaServiceEntry.h"

#include <atomic>
#include <new>

#include "agent/AgentLog.h"
#include "agent/ServiceControl.h"
#include "common/err/Errors.h"
#include "common/lang/CriticalSection.h"

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
    Log().Log(1, "%s:%d - Entering QxaServiceMain()", kSource, __LINE__);
    QxaServiceEntry* entry = QxaServiceEntry::GetInstance();
    if (entry != nullptr) {
        entry->RunMain();
    }
    Log().Log(1, "%s:%d - Exit QxaServiceMain()", kSource, __LINE__);
}

void QxaServiceEntry::RunMain() {
    Log().Log(1, "%s:%d - Registering the ServiceControl proc", kSource, __LINE__);
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
        Log().Log(1, "%s:%d - Stop requested before the start, Bootstrap thread not started",
                  kSource, __LINE__);
        return;
    }
    Log().Log(1, "%s:%d - Tell ServiceControl SERVICE_START_PENDING", kSource, __LINE__);
    TryReportStatus(WindowsServices::kServiceStartPending, kStatusWaitHintMs);
    Log().Log(1, "%s:%d - Start the Bootstrap thread", kSource, __LINE__);
    bootstrap_.SetToolboxList(toolboxes_);
    bootstrapStarted_ = bootstrap_.Start();
    if (!bootstrapStarted_) {
        Log().Log(0, "%s:%d - The Bootstrap thread could not be started", kSource, __LINE__);
    }
    Log().Log(1, "%s:%d - Tell ServiceControl SERVICE_RUNNING", kSource, __LINE__);
    TryReportStatus(WindowsServices::kServiceRunning, kStatusWaitHintMs);
}

std::uint32_t QxaServiceControl(std::uint32_t control, std::uint32_t eventType, void*, void*) {
    QxaServiceEntry* entry = QxaServiceEntry::GetInstance();
    Log().Log(1, "%s:%d - QxaServiceControl", kSource, __LINE__);
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
    Log().Log(1, "%s:%d - Received SERVICE_CONTROL_STOP", kSource, __LINE__);
    Log().Log(1, "%s:%d - Sending SERVICE_STOP_PENDING", kSource, __LINE__);
    TryReportStatus(WindowsServices::kServiceStopPending, kStatusWaitHintMs);
    Log().Log(1, "%s:%d - Signal Bootstrap to exit", kSource, __LINE__);
    bootstrap_.SignalShutdown();
    if (started) {
        do {
            Log().Log(1, "%s:%d - Waiting %d milliseconds for bootstrap thread to exit ", kSource,
                      __LINE__, static_cast<int>(kStopPeriodMs));
            TryReportStatus(WindowsServices::kServiceStopPending, kStopWaitHintMs);
        } while (!bootstrap_.WaitForEnd(kStopPeriodMs));
    } else {
        Log().Log(1, "%s:%d - no bootstrap thread was started", kSource, __LINE__);
    }
    Log().Log(1, "%s:%d - thread exited, sending  SERVICE_STOPPED", kSource, __LINE__);
    TryReportStatus(WindowsServices::kServiceStopped, kStatusWaitHintMs);
}

void QxaServiceEntry::SessionChange(std::uint32_t eventType) {
    Log().Log(2, "%s:%d - SERVICE_CONTROL_SESSIONCHANGE\n\tdwEvent = %u ", kSource, __LINE__,
              eventType);
    if (eventType != WindowsServices::kSessionLogon &&
        eventType != WindowsServices::kSessionLogoff) {
        return;
    }
    Log().Log(2, "%s:%d - Received SERVICE_CONTROL_SESSIONCHANGE", kSource, __LINE__);
    Log().Log(1, "%s:%d - Checking currently logged on users", kSource, __LINE__);
    bootstrap_.CheckUsers();
}

void QxaServiceEntry::TryReportStatus(std::uint32_t state, std::uint32_t waitHint) {
    try {
        ReportStatus(state, 0, waitHint);
    } catch (const err::CGeneralError& e) {
        Log().Log(0, "%s:%d - %s:%d - %s, state %u\n\tValue=%d, SystemError=0x%08X", kSource,
                  __LINE__, e.Source(), e.Line(), e.Message(), state, e.Value(), e.SystemError());
    }
}
