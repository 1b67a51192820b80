#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "agent/AgentLog.h"
#include "agent/QxAgent.h"
#include "agent/Settings.h"
#include "common/msg/QXMessage.h"
#include "tests/support/ScratchFiles.h"
#include "tests/unit/RegistryFixture.h"

namespace {

// An agent that is initialised but not connected, with a settings store of its own:
// everything a handler or a toolbox can ask of it without a server.
class AgentCommands : public regtest::RegistryFixture {
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

TEST_F(AgentCommands, AnUnknownCommandLeavesOnlyTheBadCommandLead) {
    EXPECT_EQ(Run("getstate", "Request=getstate\nState=Specific\n", false),
              "getstate=BadCommand\n");
    EXPECT_EQ(Run("X", "Request=X\nField=1\n", false), "") << "X=BadCommand has no separator";
}

TEST_F(AgentCommands, StateCommandsStoreAndReturnTheTaskState) {
    EXPECT_EQ(Run("SetState", "Request=SetState\nTask-Type=7\nID=42\nOther=x\n"),
              "Request=SetState\nID=42\nOther=x\nTask-Type=7\n")
        << "SetState leaves its message as it was";
    EXPECT_EQ(Run("GetState", "Request=GetState\nState=Specific\nTask-Type=\nSchedule-ID=\n"),
              "Request=GetState\nSchedule-ID=\nState=\nTask-Type=7\n");
    EXPECT_EQ(Run("GetState", "Request=GetState\n"), "ID=42\nTask-Type=7\n");
}

TEST_F(AgentCommands, AcceptedCommandsWithoutEffectLeaveTheMessageAlone) {
    for (const char* command : {"ClearState", "StopService", "RestartService"}) {
        EXPECT_EQ(Run(command, "Request=Anything\nTask-Type=7\n"),
                  "Request=Anything\nTask-Type=7\n");
    }
    EXPECT_EQ(Run("GetState", "Request=GetState\n"), "") << "ClearState keeps the state";
}

TEST_F(AgentCommands, UpdateInfoAddsOneEntryPerCall) {
    const auto message = Message("Request=AgentUpdateInfo\n");
    ASSERT_TRUE(agent_.AgentCommand("AgentUpdateInfo", message.get()));
    ASSERT_TRUE(agent_.AgentCommand("AgentUpdateInfo", message.get()));
    EXPECT_STREQ(message->GetText(),
                 "Request=AgentUpdateInfo\n"
                 "Auto-Update-Count=2\n"
                 "Auto-Update-Current0=corvane-wardex-6.8.282.X86.exe\n"
                 "Auto-Update-Current1=corvane-wardex-6.8.282.X86.exe\n"
                 "Auto-Update-Pattern0=agents\\mireton\\corvane-wardex-*.X86.exe\n"
                 "Auto-Update-Pattern1=agents\\mireton\\corvane-wardex-*.X86.exe\n");
}

// A number setting given text that is no number stores the number the text begins with (0
// for none) and costs the fields after it nothing.
TEST_F(AgentCommands, SettingsCommandsStoreEveryFieldWhateverItsText) {
    const std::string set =
        "Settings=Set\nLogSize=15s\nTcpAddr=10.0.0.1\nTestConnectionEvery=abc\n";
    EXPECT_EQ(Run("SetAgentSettings", set), set);
    EXPECT_EQ(
        Run("GetAgentSettings", "Settings=Specified\nLogSize=\nTcpAddr=\nTestConnectionEvery=15\n"),
        "Settings=Specified\nLogSize=15\nTcpAddr=10.0.0.1\nTestConnectionEvery=0\n");
}

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

TEST_F(AgentCommands, CloseSessionStopsTheAgentOnlyForAnExactYes) {
    Run("CloseSession", "Request=CloseSession\nShutdown=yes\n");
    EXPECT_FALSE(agent_.IsCloseRequested());
    Run("CloseSession", "Request=CloseSession\nShutdown=Yes\n");
    EXPECT_TRUE(agent_.IsCloseRequested());
}

TEST_F(AgentCommands, EncryptionWithoutAConnectionFailsAndIsContained) {
    EXPECT_EQ(Run("EnableEncryption", "Reply=CreateSession\nResult=Success\n"),
              "Reply=CreateSession\nResult=Success\n");
}

TEST_F(AgentCommands, TheSinkHandsBackMessagesByTypeOldestOrNewestFirst) {
    msg::IQXMessage* first = agent_.NewMessage();
    msg::IQXMessage* second = agent_.NewMessage();
    msg::IQXMessage* other = agent_.NewMessage();
    first->SetField("Order", "first");
    second->SetField("Order", "second");
    agent_.AddToMessageSink(first, 3);
    agent_.AddToMessageSink(other, 4);
    agent_.AddToMessageSink(second, 3);
    EXPECT_EQ(first->GetFieldInt("SinkType"), 3);
    EXPECT_EQ(agent_.FetchFromMessageSink(5), nullptr);

    msg::IQXMessage* newest = agent_.FetchFromMessageSinkReverse(3);
    ASSERT_EQ(newest, second);
    msg::IQXMessage* oldest = agent_.FetchFromMessageSink(3);
    ASSERT_EQ(oldest, first);
    EXPECT_EQ(agent_.FetchFromMessageSink(3), nullptr);
    newest->Release();
    oldest->Release();
    // The message of type 4 stays in the sink: Destroy releases it, which the leak checker
    // of the sanitizer builds confirms.
}

TEST_F(AgentCommands, WithoutToolboxesAMessageIsStillTakenAndTheStateFileWritten) {
    const auto message = Message("Internal=Ping\n");
    EXPECT_TRUE(agent_.InvokeHandler(message.get()));
    agent_.GetAgentState().Set("Task-Type", "9");
    agent_.Destroy();
    EXPECT_NE(scratch::ReadFile(folder_ / "wardex.dat").find("1 9"), std::string::npos);
}

}  // namespace
