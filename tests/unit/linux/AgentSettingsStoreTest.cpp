#include "agent/engine/QxAgent.h"
#include "agent/log/AgentLog.h"
#include "common/msg/QXMessage.h"
#include "tests/support/TestBasics.h"
#include "tests/unit/StoreFixture.h"

namespace {

class AgentSettingsStore : public regtest::StoreFixture {};

// A store that cannot be written fails each value, and each failure gets its log line: one
// failure never keeps the values after it from being tried.
TEST_F(AgentSettingsStore, SetAgentSettingsTriesEveryFieldAndLogsEachFailure) {
    const std::string unwritable =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
        "\"LogSize\"=dword:\n";
    WriteStore(unwritable);
    // The process's log follows this test, also when one process runs every test.
    const std::string logFile = sandbox_ / "agent.log";
    logging::CAgentLog* log = logging::CAgentLog::GetInstance();
    log->InitializeFileLog(true, true, true, logFile, 10000000);
    log->SetLogParams(true, true, true, logFile, 10000000);
    CQXAgent agent;
    agent.SetStateFile(sandbox_ / "wardex.dat");
    agent.Init(util::ParamList());
    msg::CQXMessage message;
    message.Assign("Settings=Set\nLogDebug=1\nLogSize=2048\nTcpAddr=10.0.0.1\n");
    EXPECT_TRUE(agent.AgentCommand("SetAgentSettings", &message));
    agent.Destroy();
    const std::string failure =
        "CSetAgentSettings::HandleMessage() - OpenIntern() - Cannot open key.";
    int failures = 0;
    for (const std::string& line : scratch::Lines(scratch::ReadFile(logFile))) {
        failures += line.find(failure) != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(failures, 3) << "one line for each of the three settings";
    EXPECT_EQ(ReadStore(), unwritable);
}

}  // namespace
