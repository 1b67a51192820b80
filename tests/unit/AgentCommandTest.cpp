#include <gtest/gtest.h>
#include <string>

#include "agent/engine/QxAgent.h"
#include "common/msg/QXMessage.h"
#include "tests/support/Environment.h"

namespace {

// Cases a session cannot reach, on an agent that is initialised but not connected, with
// settings of its own: a command name without room for the separator, SetState's message
// left as it was, and encryption without a connection.
TEST(AgentCommands, HandlerLevelRepliesAreTheseTexts) {
    const testsupport::SettingsSandbox sandbox;
    CQXAgent agent;
    agent.SetStateFile(sandbox / "wardex.dat");
    agent.Init(util::ParamList());
    const auto run = [&agent](const std::string& command, const std::string& text,
                              bool result) -> std::string {
        msg::CQXMessage message;
        message.Assign(text);
        EXPECT_EQ(agent.AgentCommand(command, &message), result) << command;
        return message.GetText();
    };
    EXPECT_EQ(run("X", "Request=X\nField=1\n", false), "") << "X=BadCommand has no separator";
    EXPECT_EQ(run("SetState", "Request=SetState\nTask-Type=7\nOther=x\n", true),
              "Request=SetState\nOther=x\nTask-Type=7\n");
    EXPECT_EQ(run("EnableEncryption", "Reply=CreateSession\nResult=Success\n", true),
              "Reply=CreateSession\nResult=Success\n");
    agent.Destroy();
}

}  // namespace
