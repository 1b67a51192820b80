#include "agent/service/windows/ServiceRecovery.h"

#include <iterator>

#include "agent/log/AgentLog.h"
#include "common/util/LogLine.h"

namespace ServiceControl {

namespace {

constexpr const char* kSource = "ServiceControl";
constexpr DWORD kResetSeconds = 24 * 60 * 60;
constexpr DWORD kRestartDelaysMs[] = {10000, 30000, 60000};
constexpr DWORD kPreshutdownTimeoutMs = 60000;

constexpr logging::CBestEffortLog kLog;

void Change(SC_HANDLE service, ConfigChange change, DWORD level, void* info, const char* what) {
    if (!change(service, level, info)) {
        WARDEX_LOG(kLog, LogLevel::Error,
                   "ServiceControl::Install - the service's %s cannot be set (system error %lu)",
                   what, ::GetLastError());
    }
}

}  // namespace

void ConfigureRecovery(SC_HANDLE service, ConfigChange change) {
    SC_ACTION restarts[std::size(kRestartDelaysMs)];
    for (std::size_t i = 0; i < std::size(kRestartDelaysMs); ++i) {
        restarts[i] = {SC_ACTION_RESTART, kRestartDelaysMs[i]};
    }
    SERVICE_FAILURE_ACTIONSA actions{};
    actions.dwResetPeriod = kResetSeconds;
    actions.cActions = static_cast<DWORD>(std::size(restarts));
    actions.lpsaActions = restarts;
    Change(service, change, SERVICE_CONFIG_FAILURE_ACTIONS, &actions, "failure actions");
    SERVICE_FAILURE_ACTIONS_FLAG onErrorExit{TRUE};
    Change(service, change, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrorExit,
           "failure actions on an end with an error");
    SERVICE_PRESHUTDOWN_INFO preshutdown{kPreshutdownTimeoutMs};
    Change(service, change, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, "preshutdown time-out");
}

}  // namespace ServiceControl
