// The reference toolboxes, loaded from their built files through the agent's own loader and
// driven through an agent whose built-in commands work in memory.

#include <utmp.h>

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "agent/Toolbox.h"
#include "common/msg/QXMessage.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/UtmpFile.h"

namespace {

using ::testing::HasSubstr;
using testsupport::RecordingAgent;

std::string ToolboxPath(const char* name) {
    return std::string(WARDEX_REFERENCE_TOOLBOX_DIR) + "/" + name + ".so";
}

// Loads the toolbox for this one message and frees it again, as the agent does.
int Offer(const char* toolbox, msg::IQXMessage& message, IAgentAPI& agent) {
    CToolBox library(ToolboxPath(toolbox).c_str());
    library.Load();
    return library.HandleMessage(&message, &agent);
}

std::unique_ptr<msg::CQXMessage> MessageOf(const std::string& text) {
    auto message = std::make_unique<msg::CQXMessage>();
    message->Assign(text);
    return message;
}

// The one message the agent sent, parsed.
std::unique_ptr<msg::CQXMessage> OnlySent(const RecordingAgent& agent) {
    const std::vector<std::string> sent = agent.Sent();
    EXPECT_EQ(sent.size(), 1u);
    return MessageOf(sent.empty() ? std::string() : sent.front());
}

TEST(DefaultToolbox, SessionRequestCarriesIdentityVersionSystemAndTaskState) {
    RecordingAgent agent;
    agent.SetSetting("ClientID", "build-7");
    agent.SetState("Task-Sequence-ID", "42");
    agent.SetState("Status-Code", "3");
    auto trigger = MessageOf("Internal=CreateSession\n");

    EXPECT_EQ(Offer("default", *trigger, agent), TBX_SUCCESS);

    auto request = OnlySent(agent);
    EXPECT_STREQ(request->GetLeadName(), "Request");
    EXPECT_STREQ(request->GetLeadValue(), "CreateSession");
    EXPECT_STREQ(request->GetField("ClientID"), "build-7");
    EXPECT_STREQ(request->GetField("AgentVersion"), "6.8.282");
    EXPECT_STRNE(request->GetField("HostName"), "");
    EXPECT_STRNE(request->GetField("OS-Kernel"), "");
    EXPECT_STRNE(request->GetField("OS-Architecture"), "");
    EXPECT_STREQ(request->GetField("Task-Sequence-ID"), "42");
    EXPECT_STREQ(request->GetField("Status-Code"), "3");
    EXPECT_STRNE(request->GetField("User-Count"), "");
}

TEST(DefaultToolbox, SessionRequestWithoutClientIdSettingStillIdentifiesTheComputer) {
    RecordingAgent agent;
    auto trigger = MessageOf("Internal=CreateSession\n");
    Offer("default", *trigger, agent);
    EXPECT_STRNE(OnlySent(agent)->GetField("ClientID"), "");
}

TEST(DefaultToolbox, PingSendsKeepAlive) {
    RecordingAgent agent;
    auto ping = MessageOf("Internal=Ping\n");
    EXPECT_EQ(Offer("default", *ping, agent), TBX_SUCCESS);
    auto keepAlive = OnlySent(agent);
    EXPECT_STREQ(keepAlive->GetLeadName(), "Request");
    EXPECT_STREQ(keepAlive->GetLeadValue(), "KeepAlive");
}

TEST(DefaultToolbox, SettingsWriteThenReadTravelsThroughTheBuiltInCommands) {
    RecordingAgent agent;
    agent.SetSetting("TcpPort", "4040");
    auto write = MessageOf("Request=SetAgentSettings\nLogDebug=1\nTcpPort=5050\n");
    EXPECT_EQ(Offer("default", *write, agent), TBX_SUCCESS);
    EXPECT_EQ(agent.Settings().at("TcpPort"), "5050");
    EXPECT_EQ(agent.Settings().at("LogDebug"), "1");

    auto read = MessageOf("Request=GetAgentSettings\nSettings=Specified\nTcpPort=\nLogDebug=\n");
    EXPECT_EQ(Offer("default", *read, agent), TBX_SUCCESS);
    const std::vector<std::string> sent = agent.Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "Reply=SetAgentSettings\nLogDebug=1\nResult=Success\nTcpPort=5050\n");
    EXPECT_EQ(sent[1],
              "Reply=GetAgentSettings\nLogDebug=1\nResult=Success\nSettings=Specified\n"
              "TcpPort=5050\n");
    // The request itself is the agent's and stays as it came.
    EXPECT_STREQ(read->GetField("TcpPort"), "");
}

TEST(DefaultToolbox, StateRoundTripAndFullStateRead) {
    RecordingAgent agent;
    auto set = MessageOf("Request=SetState\nTask-Sequence-ID=9\nTask-Type=2\n");
    Offer("default", *set, agent);
    auto specific = MessageOf("Request=GetState\nState=Specific\nTask-Type=\n");
    Offer("default", *specific, agent);
    auto all = MessageOf("Request=GetState\n");
    Offer("default", *all, agent);

    const std::vector<std::string> sent = agent.Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "Reply=SetState\nResult=Success\nTask-Sequence-ID=9\nTask-Type=2\n");
    // A specific read fills every field the request names from the state, "State" too.
    EXPECT_EQ(sent[1], "Reply=GetState\nResult=Success\nState=\nTask-Type=2\n");
    // A full read clears the message, lead pair included; the reply gets its lead back.
    EXPECT_EQ(sent[2], "Reply=GetState\nResult=Success\nTask-Sequence-ID=9\nTask-Type=2\n");
}

TEST(DefaultToolbox, ConnectionCommandsAreNotTheServersToRun) {
    RecordingAgent agent;
    for (const char* text : {"Request=EnableEncryption\n", "Request=StopService\n",
                             "Request=Inventory\nScope=All\n", "Reply=Unknown\n"}) {
        auto message = MessageOf(text);
        EXPECT_EQ(Offer("default", *message, agent), TBX_NEXT_TOOLBOX) << text;
        EXPECT_EQ(message->BuildText(), std::string(text));
    }
    EXPECT_TRUE(agent.Sent().empty());
    EXPECT_TRUE(agent.Commands().empty());
}

TEST(DefaultToolbox, CloseRequestClosesTheSessionAndPassesShutdownOn) {
    RecordingAgent agent;
    auto close = MessageOf("Request=CloseSession\nShutdown=Yes\n");
    EXPECT_EQ(Offer("default", *close, agent), TBX_SUCCESS);
    auto reconnect = MessageOf("Request=CloseSession\n");
    Offer("default", *reconnect, agent);
    EXPECT_EQ(agent.Commands(),
              (std::vector<std::string>{"CloseSession Shutdown=Yes", "CloseSession Shutdown="}));
    EXPECT_TRUE(agent.Sent().empty());
}

TEST(DefaultToolbox, SessionReplyIsAcceptedOrTheRefusedSessionClosed) {
    RecordingAgent agent;
    auto accepted = MessageOf("Reply=CreateSession\nResult=Success\n");
    EXPECT_EQ(Offer("default", *accepted, agent), TBX_SUCCESS);
    EXPECT_TRUE(agent.Commands().empty());

    auto refused = MessageOf("Reply=CreateSession\nResult=Refused\n");
    EXPECT_EQ(Offer("default", *refused, agent), TBX_SUCCESS);
    EXPECT_EQ(agent.Commands(), (std::vector<std::string>{"CloseSession Shutdown="}));
    ASSERT_EQ(agent.ErrorLines().size(), 1u);
    EXPECT_THAT(agent.ErrorLines().front(), HasSubstr("Result=Refused"));
}

TEST(DefaultToolbox, CheckUsersFillsTheLoggedOnUsersIntoTheMessage) {
    scratch::ScratchFolder root;
    std::filesystem::create_directories(root.Path() / "run");
    scratch::WriteUtmp(root / "run/utmp", {{USER_PROCESS, "zoe"},
                                           {USER_PROCESS, "adam"},
                                           {DEAD_PROCESS, "gone"},
                                           {USER_PROCESS, "zoe"},
                                           {LOGIN_PROCESS, "LOGIN"}});
    scratch::ScopedRoot scopedRoot(root.Path().c_str());
    RecordingAgent agent;
    auto check = MessageOf("Internal=CheckUsers\n");

    EXPECT_EQ(Offer("default", *check, agent), TBX_SUCCESS);

    EXPECT_STREQ(check->GetField("Users"), "adam,zoe");
    EXPECT_EQ(check->GetFieldInt("User-Count"), 2);
    EXPECT_TRUE(agent.Sent().empty());
}

TEST(DefaultToolbox, CheckUsersWithoutUtmpReportsNobody) {
    scratch::ScratchFolder root;
    scratch::ScopedRoot scopedRoot(root.Path().c_str());
    RecordingAgent agent;
    auto check = MessageOf("Internal=CheckUsers\n");
    EXPECT_EQ(Offer("default", *check, agent), TBX_SUCCESS);
    EXPECT_STREQ(check->GetField("Users"), "");
    EXPECT_STREQ(check->GetField("User-Count"), "0");
}

class ConfigToolbox : public ::testing::Test {
protected:
    // Offers "Internal"/"Configure" for a file with this content; returns the code.
    int Configure(const std::string& content) {
        std::ofstream(folder_ / "site.cfg") << content;
        message_ = MessageOf("Internal=Configure\nFilename=" + folder_ / "site.cfg" + "\n");
        return Offer("config", *message_, agent_);
    }
    std::string Result() const { return message_->GetField("Result"); }

    scratch::ScratchFolder folder_;
    RecordingAgent agent_;
    std::unique_ptr<msg::CQXMessage> message_;
};

TEST_F(ConfigToolbox, AppliesTheSettingsSection) {
    EXPECT_EQ(Configure("# site defaults\n[Settings]\n  TcpAddr = mgmt.example.net \n"
                        "ConsoleName = \" Build farm \"\n; done\n\n[actions]\nReboot = no\n"),
              TBX_SUCCESS);
    EXPECT_EQ(Result(), "Success");
    EXPECT_EQ(agent_.Settings(),
              (std::map<std::string, std::string>{{"ConsoleName", " Build farm "},
                                                  {"TcpAddr", "mgmt.example.net"}}));
}

TEST_F(ConfigToolbox, AsksForARestartWhenTheFileSaysSo) {
    EXPECT_EQ(Configure("[Settings]\nLogDebug=yes\n[Actions]\nReboot = YES\n"), TBX_SUCCESS);
    EXPECT_EQ(Result(), "Reboot");
    EXPECT_EQ(agent_.Settings().at("LogDebug"), "yes");
}

TEST_F(ConfigToolbox, FaultyFileNamesTheLineAndAppliesNothing) {
    struct Case {
        const char* content;
        const char* fault;
    };
    const Case cases[] = {
        {"[Settings]\nTcpAddr=a\nTcpPort 4040\n", "site.cfg:3: expected name = value"},
        {"TcpAddr=a\n", "site.cfg:1: name = value before the first section"},
        {"[Settings]\n[Extras]\n", "site.cfg:2: unknown section [Extras]"},
        {"[Settings\n", "site.cfg:1: a section name ends with ]"},
        {"[Actions]\nReboot=later\n", "site.cfg:2: Reboot takes yes or no, not later"},
        {"[Actions]\nShutdown=yes\n", "site.cfg:2: unknown action Shutdown"},
        {"[Settings]\nConsoleName=\"open\n", "site.cfg:2: a quoted value ends with \""},
        {"[Settings]\n = value\n", "site.cfg:2: expected name = value"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Configure(c.content), TBX_FAILED) << c.content;
        EXPECT_THAT(Result(), HasSubstr(c.fault));
    }
    EXPECT_TRUE(agent_.Settings().empty());
    EXPECT_TRUE(agent_.Commands().empty());
    EXPECT_EQ(agent_.ErrorLines().size(), std::size(cases));
}

TEST_F(ConfigToolbox, MissingOrUnnamedFileIsAnErrorText) {
    auto missing = MessageOf("Internal=Configure\nFilename=" + folder_ / "none.cfg");
    EXPECT_EQ(Offer("config", *missing, agent_), TBX_FAILED);
    EXPECT_THAT(missing->GetField("Result"), HasSubstr("cannot open"));
    EXPECT_THAT(missing->GetField("Result"), HasSubstr("none.cfg"));

    auto unnamed = MessageOf("Internal=Configure\n");
    EXPECT_EQ(Offer("config", *unnamed, agent_), TBX_FAILED);
    EXPECT_STREQ(unnamed->GetField("Result"), "no configuration file: Filename is empty");
}

TEST_F(ConfigToolbox, OtherMessagesPassOnUntouched) {
    for (const char* text : {"Internal=CreateSession\n", "Request=Configure\nFilename=x\n"}) {
        auto message = MessageOf(text);
        EXPECT_EQ(Offer("config", *message, agent_), TBX_NEXT_TOOLBOX);
        EXPECT_EQ(message->BuildText(), std::string(text));
    }
}

}  // namespace
