// The service control manager hands every control to the service's handler through
// RelayControl. Wine's manager never sends a session change, and no manager takes one from
// ControlService, so these tests call RelayControl as the manager would: with the agent's
// own handler and service entry, and a session notification as the event data. That the
// entry's user check reaches the server as "Request"/"UpdateUser" is the shared bootstrap's
// part, which the service tests of the Linux host show.
#include <windows.h>

#include <wtsapi32.h>

#include "agent/log/AgentLog.h"
#include "agent/service/QxaServiceEntry.h"
#include "agent/service/windows/ControlRelay.h"
#include "agent/service/windows/ServiceRecovery.h"
#include "common/err/Errors.h"
#include "tests/support/TestBasics.h"

namespace {

constexpr char kUserCheck[] = "Checking currently logged on users";

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

struct RelayCase {
    DWORD control;
    DWORD eventType;
    DWORD answer;
    std::size_t userChecks;
};

TEST(ServiceRelayTest, LogonsAndLogoffsMakeTheEntryCheckTheUsersAndOtherControlsAreAnswered) {
    const scratch::ScratchFolder folder;
    const std::string logFile = folder / "agent.log";
    logging::CAgentLog::GetInstance()->InitializeFileLog(true, true, true, logFile, 1 << 20);
    ServiceControl::ControlRegistration registration{QxaServiceControl,
                                                     QxaServiceEntry::GetInstance()};
    const RelayCase cases[] = {
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, NO_ERROR, 1},
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, NO_ERROR, 1},
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOCK, NO_ERROR, 0},
        {SERVICE_CONTROL_PAUSE, 0, ERROR_CALL_NOT_IMPLEMENTED, 0},
        {SERVICE_CONTROL_INTERROGATE, 0, NO_ERROR, 0},
    };
    for (const RelayCase& c : cases) {
        const std::size_t before = Count(scratch::ReadFile(logFile), kUserCheck);
        WTSSESSION_NOTIFICATION session{sizeof(WTSSESSION_NOTIFICATION), 1};
        EXPECT_EQ(ServiceControl::RelayControl(c.control, c.eventType, &session, &registration),
                  c.answer)
            << "control " << c.control << ", event " << c.eventType;
        EXPECT_EQ(Count(scratch::ReadFile(logFile), kUserCheck) - before, c.userChecks)
            << "control " << c.control << ", event " << c.eventType;
    }
    EXPECT_EQ(Count(scratch::ReadFile(logFile), "dwEvent = 7 "), 1u);
}

// What a handler raises must not unwind into the manager's dispatcher.
TEST(ServiceRelayTest, AnErrorOfTheHandlerStaysInTheRelay) {
    ServiceControl::ControlRegistration registration{
        [](std::uint32_t, std::uint32_t, void*, void*) -> std::uint32_t {
            throw WindowsServices::ServiceControlError("test", "refused", 1, 0, 5);
        },
        nullptr};
    EXPECT_EQ(ServiceControl::RelayControl(SERVICE_CONTROL_STOP, 0, nullptr, &registration),
              static_cast<DWORD>(NO_ERROR));
}

// What the installation hands to the service control manager, taken at the call: Wine's
// manager takes the failure actions without keeping them and refuses their flag (87).
std::vector<DWORD> recoveryLevels;
std::vector<DWORD> recoveryValues;

BOOL WINAPI RecordRecovery(SC_HANDLE, DWORD level, LPVOID info) {
    recoveryLevels.push_back(level);
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto* actions = static_cast<SERVICE_FAILURE_ACTIONSA*>(info);
        recoveryValues.push_back(actions->dwResetPeriod);
        for (DWORD i = 0; i < actions->cActions; ++i) {
            recoveryValues.push_back(actions->lpsaActions[i].Type);
            recoveryValues.push_back(actions->lpsaActions[i].Delay);
        }
        // With a reboot message or a command they would be refused, and the log would say so.
        return actions->lpRebootMsg == nullptr && actions->lpCommand == nullptr;
    }
    // The flag and the preshutdown time-out are a single DWORD each.
    recoveryValues.push_back(*static_cast<DWORD*>(info));
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return level != SERVICE_CONFIG_FAILURE_ACTIONS_FLAG;
}

// Restarts after 10, 30 and 60 seconds, counted anew after a day, on an end with an error
// too, and a minute before the shutdown; a setting refused is logged and the rest go on.
TEST(ServiceRecoveryTest, RestartsAfterEveryFailureAndAMinuteBeforeTheShutdown) {
    const scratch::ScratchFolder folder;
    const std::string logFile = folder / "agent.log";
    logging::CAgentLog::GetInstance()->InitializeFileLog(true, true, true, logFile, 1 << 20);
    ServiceControl::ConfigureRecovery(nullptr, RecordRecovery);
    EXPECT_EQ(recoveryLevels, (std::vector<DWORD>{SERVICE_CONFIG_FAILURE_ACTIONS,
                                                  SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
                                                  SERVICE_CONFIG_PRESHUTDOWN_INFO}));
    EXPECT_EQ(recoveryValues,
              (std::vector<DWORD>{86400, SC_ACTION_RESTART, 10000, SC_ACTION_RESTART, 30000,
                                  SC_ACTION_RESTART, 60000, TRUE, 60000}));
    const std::string log = scratch::ReadFile(logFile);
    EXPECT_EQ(Count(log, "on an end with an error cannot be set (system error 87)"), 1u);
    EXPECT_EQ(Count(log, "cannot be set"), 1u) << "the others were taken";
}

}  // namespace
