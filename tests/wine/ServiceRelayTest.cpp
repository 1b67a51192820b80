// The service control manager hands every control to the service's handler through
// RelayControl. Wine's manager never sends a session change, and no manager takes one from
// ControlService, so these tests call RelayControl as the manager would: with the agent's
// own handler and service entry, and a session notification as the event data. That the
// entry's user check reaches the server as "Request"/"UpdateUser" is the shared bootstrap's
// part, which the service tests of the Linux host show.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>
#include <wtsapi32.h>

#include "agent/log/AgentLog.h"
#include "agent/service/QxaServiceEntry.h"
#include "agent/service/windows/ControlRelay.h"
#include "common/err/Errors.h"
#include "tests/support/ScratchFiles.h"

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

}  // namespace
