#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "agent/engine/QxAgent.h"
#include "agent/log/AgentLog.h"
#include "agent/store/Settings.h"
#include "common/msg/QXMessage.h"
#include "tests/support/ScratchFiles.h"
#include "tests/unit/StoreFixture.h"

namespace {

// An agent that is initialised but not connected, with a settings store of its own:
// everything a handler or a toolbox can ask of it without a server.
class AgentCommands : public regtest::StoreFixture {
protected:
    void SetUp() override {
        agent_.SetStateFile(folder_ / "wardex.dat");
        agent_.Init(util::ParamList());
    }
    void TearDown() override { agent_.Destroy(); }

    std::unique_ptr<msg::CQXMessage> Message(const std::string& text) {
        auto message = std::make_unique<msg::CQXMessage>();
        message->Assign(text);
        return message;
    }

    std::string Run(const std::string& command, const std::string& text, bool expected = true) {
        const auto message = Message(text);
        EXPECT_EQ(agent_.AgentCommand(command, message.get()), expected) << command;
        return message->GetText();
    }

    CQXAgent agent_;
};

// A store that cannot be written fails each value, and each failure gets its log line: one
// failure never keeps the values after it from being tried.
TEST_F(AgentCommands, SetAgentSettingsTriesEveryFieldAndLogsEachFailure) {
    const std::string unwritable =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]\n"
        "\"LogSize\"=dword:\n";
    WriteStore(unwritable);
    // The process's log follows this test, also when one process runs every test.
    const std::string logFile = folder_ / "agent.log";
    logging::CAgentLog* log = logging::CAgentLog::GetInstance();
    log->InitializeFileLog(true, true, true, logFile, 10000000);
    log->SetLogParams(true, true, true, logFile, 10000000);

    Run("SetAgentSettings", "Settings=Set\nLogDebug=1\nLogSize=2048\nTcpAddr=10.0.0.1\n");
    const auto lines = scratch::Lines(scratch::ReadFile(logFile));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find(
                                           "CSetAgentSettings::HandleMessage() - "
                                           "OpenIntern() - Cannot open key.") != std::string::npos;
                            }),
              3)
        << "one line for each of the three settings";
    EXPECT_EQ(ReadStore(), unwritable);
}

// Cases a session cannot reach: a command name without room for the separator, SetState's
// message left as it was, and encryption without a connection.
TEST_F(AgentCommands, HandlerLevelRepliesAreTheseTexts) {
    EXPECT_EQ(Run("X", "Request=X\nField=1\n", false), "") << "X=BadCommand has no separator";
    EXPECT_EQ(Run("SetState", "Request=SetState\nTask-Type=7\nOther=x\n"),
              "Request=SetState\nOther=x\nTask-Type=7\n");
    EXPECT_EQ(Run("EnableEncryption", "Reply=CreateSession\nResult=Success\n"),
              "Reply=CreateSession\nResult=Success\n");
}

}  // namespace
