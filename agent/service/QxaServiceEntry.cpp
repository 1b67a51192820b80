#include "agent/service/QxaServiceEntry.h"

#include <atomic>
#include <exception>
#include <new>
#include <utility>

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

// The service must reach its last status whatever the log does.
constexpr logging::CBestEffortLog kLog;

// Runs the step; whatever it raises is logged and stays here. False when it raised.
template <typename Step>
bool Contained(const char* step, Step&& run) {
    try {
        run();
        return true;
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kLog, LogLevel::Error, "- %s failed\n\t%s:%d - %s", step, e.Source(), e.Line(),
                   e.Message());
    } catch (const std::exception& e) {
        WARDEX_LOG(kLog, LogLevel::Error, "- %s failed\n\t%s", step, e.what());
    } catch (...) {
        WARDEX_LOG(kLog, LogLevel::Error, "- %s failed with an unknown error", step);
    }
    return false;
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
    AcceptControls();
}

QxaServiceEntry::QxaServiceEntry(IBootstrapClock& clock, std::string programFolder)
    : bootstrap_(clock, std::move(programFolder)) {
    AcceptControls();
}

void QxaServiceEntry::AcceptControls() {
    status_.serviceType = WindowsServices::kOwnProcess;
    status_.controlsAccepted = WindowsServices::kAcceptStop | WindowsServices::kAcceptShutdown |
                               WindowsServices::kAcceptSessionChange |
                               WindowsServices::kAcceptPreshutdown;
}

const char* QxaServiceEntry::GetServiceName() const {
    return kServiceName;
}

void QxaServiceMain(std::uint32_t, char**) {
    WARDEX_LOG(kLog, LogLevel::Information, "- Entering QxaServiceMain()");
    QxaServiceEntry* entry = QxaServiceEntry::GetInstance();
    if (entry != nullptr) {
        entry->RunMain();
    }
    WARDEX_LOG(kLog, LogLevel::Information, "- Exit QxaServiceMain()");
}

void QxaServiceEntry::RunMain() {
    WARDEX_LOG(kLog, LogLevel::Information, "- Registering the ServiceControl proc");
    WindowsServices::IStatusHandle* handle =
        ServiceControl::RegisterControlHandler(GetServiceName(), GetControlHandler(), this);
    if (handle != nullptr) {
        Serve(*handle);
    }
}

void QxaServiceEntry::Serve(WindowsServices::IStatusHandle& handle) {
    SetStatusHandle(&handle);
    const bool served = Contained("the service's main routine", [this] {
        Start();
        stopRequest_.Wait(lang::kInfinite);
    });
    Contained("the service's stop",
              [this, served] { Finish(served ? 0 : WindowsServices::kExceptionInService); });
}

// Under the start lock, so that a stop sees either nothing started or a reported start.
void QxaServiceEntry::Start() {
    std::lock_guard guard(startLock_);
    if (stopRequested_) {
        WARDEX_LOG(kLog, LogLevel::Information,
                   "- Stop requested before the start, Bootstrap thread not started");
        return;
    }
    WARDEX_LOG(kLog, LogLevel::Information, "- Tell ServiceControl SERVICE_START_PENDING");
    TryReportStatus(WindowsServices::kServiceStartPending, kStatusWaitHintMs);
    WARDEX_LOG(kLog, LogLevel::Information, "- Start the Bootstrap thread");
    bootstrap_.SetToolboxList(toolboxes_);
    bootstrapStarted_ = bootstrap_.Start();
    if (!bootstrapStarted_) {
        WARDEX_LOG(kLog, LogLevel::Error, "- The Bootstrap thread could not be started");
    }
    WARDEX_LOG(kLog, LogLevel::Information, "- Tell ServiceControl SERVICE_RUNNING");
    TryReportStatus(WindowsServices::kServiceRunning, kStatusWaitHintMs);
}

std::uint32_t QxaServiceControl(std::uint32_t control, std::uint32_t eventType, void*, void*) {
    QxaServiceEntry* entry = QxaServiceEntry::GetInstance();
    WARDEX_LOG(kLog, LogLevel::Information, "- QxaServiceControl");
    return entry != nullptr ? entry->Control(control, eventType)
                            : WindowsServices::kCallNotImplemented;
}

std::uint32_t QxaServiceEntry::Control(std::uint32_t control, std::uint32_t eventType) {
    switch (control) {
        case WindowsServices::kControlStop:
        case WindowsServices::kControlShutdown:
        case WindowsServices::kControlPreshutdown:
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

bool QxaServiceEntry::RequestStop() {
    std::lock_guard guard(startLock_);
    return !std::exchange(stopRequested_, true);
}

// The control thread only starts the stop: the service manager wants the handler back within
// seconds, and the main routine waits for the bootstrap.
void QxaServiceEntry::Stop() {
    if (!RequestStop()) {
        return;
    }
    Contained("the stop request", [this] {
        WARDEX_LOG(kLog, LogLevel::Information, "- Received SERVICE_CONTROL_STOP");
        WARDEX_LOG(kLog, LogLevel::Information, "- Sending SERVICE_STOP_PENDING");
        TryReportStatus(WindowsServices::kServiceStopPending, kStatusWaitHintMs);
        WARDEX_LOG(kLog, LogLevel::Information, "- Signal Bootstrap to exit");
        bootstrap_.SignalShutdown();
    });
    stopRequest_.Set();
}

void QxaServiceEntry::Finish(std::uint32_t exitCode) {
    // After an error no stop request came: nothing may start now, and the bootstrap must end.
    RequestStop();
    bootstrap_.SignalShutdown();
    if (bootstrapStarted_) {
        do {
            WARDEX_LOG(kLog, LogLevel::Information,
                       "- Waiting %d milliseconds for bootstrap thread to exit ",
                       static_cast<int>(kStopPeriodMs));
            TryReportStatus(WindowsServices::kServiceStopPending, kStopWaitHintMs);
        } while (!bootstrap_.WaitForEnd(kStopPeriodMs));
    } else {
        WARDEX_LOG(kLog, LogLevel::Information, "- no bootstrap thread was started");
    }
    WARDEX_LOG(kLog, LogLevel::Information, "- thread exited, sending  SERVICE_STOPPED");
    TryReportStatus(WindowsServices::kServiceStopped, kStatusWaitHintMs, exitCode);
}

void QxaServiceEntry::SessionChange(std::uint32_t eventType) {
    WARDEX_LOG(kLog, LogLevel::Debug, "- SERVICE_CONTROL_SESSIONCHANGE\n\tdwEvent = %u ",
               eventType);
    if (eventType != WindowsServices::kSessionLogon &&
        eventType != WindowsServices::kSessionLogoff) {
        return;
    }
    WARDEX_LOG(kLog, LogLevel::Debug, "- Received SERVICE_CONTROL_SESSIONCHANGE");
    WARDEX_LOG(kLog, LogLevel::Information, "- Checking currently logged on users");
    bootstrap_.CheckUsers();
}

void QxaServiceEntry::TryReportStatus(std::uint32_t state, std::uint32_t waitHint,
                                      std::uint32_t exitCode) {
    try {
        ReportStatus(state, exitCode, waitHint);
    } catch (const err::CGeneralError& e) {
        WARDEX_LOG(kLog, LogLevel::Error, "- %s:%d - %s, state %u\n\tValue=%d, SystemError=0x%08X",
                   e.Source(), e.Line(), e.Message(), state, e.Value(), e.SystemError());
    }
}
