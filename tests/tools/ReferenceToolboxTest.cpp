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

#include "agent/toolbox/Toolbox.h"
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
    auto trigger = MessageOf("Internal=CreateSession\n");
    EXPECT_EQ(Offer("default", *trigger, agent), TBX_SUCCESS);
    auto request = OnlySent(agent);
    EXPECT_STREQ(request->GetLeadValue(), "CreateSession");
    EXPECT_STREQ(request->GetField("ClientID"), "build-7");
    EXPECT_STREQ(request->GetField("AgentVersion"), "6.8.282");
    EXPECT_STREQ(request->GetField("Task-Sequence-ID"), "42");
    for (const char* field : {"HostName", "OS-Kernel", "OS-Architecture", "User-Count"}) {
        EXPECT_STRNE(request->GetField(field), "") << field;
    }
    // Without the setting, the computer is still identified.
    RecordingAgent unnamed;
    Offer("default", *MessageOf("Internal=CreateSession\n"), unnamed);
    EXPECT_STRNE(OnlySent(unnamed)->GetField("ClientID"), "");
}

// Messages offered one after another to the default toolbox of one agent: the code each
// returns, and what the agent was asked to run in all; none of them sends anything. Its
// settings, state, ping and user exchanges are seen through the agent and qxsim in the demo
// session.
TEST(DefaultToolbox, AnswersItsRequestsThroughTheBuiltInCommands) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, int>> offered;
        std::vector<std::string> commands;
    };
    const std::vector<Case> cases = {
        {"connection commands are not the server's to run",
         {{"Request=EnableEncryption\n", TBX_NEXT_TOOLBOX},
          {"Request=StopService\n", TBX_NEXT_TOOLBOX},
          {"Request=Inventory\nScope=All\n", TBX_NEXT_TOOLBOX},
          {"Reply=Unknown\n", TBX_NEXT_TOOLBOX}},
         {}},
        {"close passes shutdown on",
         {{"Request=CloseSession\nShutdown=Yes\n", TBX_SUCCESS},
          {"Request=CloseSession\n", TBX_SUCCESS}},
         {"CloseSession Shutdown=Yes", "CloseSession Shutdown="}},
        {"session reply accepted or refused",
         {{"Reply=CreateSession\nResult=Success\n", TBX_SUCCESS},
          {"Reply=CreateSession\nResult=Refused\n", TBX_SUCCESS}},
         {"CloseSession Shutdown="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingAgent agent;
        for (const auto& [text, code] : c.offered) {
            auto message = MessageOf(text);
            EXPECT_EQ(Offer("default", *message, agent), code) << text;
            if (code == TBX_NEXT_TOOLBOX) {
                EXPECT_EQ(message->BuildText(), text);
            }
        }
        EXPECT_TRUE(agent.Sent().empty());
        EXPECT_EQ(agent.Commands(), c.commands);
    }
}

// Only user processes count, each user once, in name order.
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
    EXPECT_STREQ(check->GetField("User-Count"), "2");
    EXPECT_TRUE(agent.Sent().empty());
}

class ConfigToolbox : public ::testing::Test {
protected:
    // Offers "Internal"/"Configure" for the named file of the folder (none for an empty name),
    // written with this content unless it is null; returns the code.
    int Configure(const char* content, const std::string& name = "site.cfg") {
        const std::string path = name.empty() ? "" : folder_ / name;
        if (content != nullptr) {
            std::ofstream(path) << content;
        }
        message_ = MessageOf("Internal=Configure\nFilename=" + path + "\n");
        return Offer("config", *message_, agent_);
    }
    std::string Result() const { return message_->GetField("Result"); }

    scratch::ScratchFolder folder_;
    RecordingAgent agent_;
    std::unique_ptr<msg::CQXMessage> message_;
};

TEST_F(ConfigToolbox, AppliesTheSettingsSectionAndAsksForARestartWhenTheFileSaysSo) {
    EXPECT_EQ(Configure("# site defaults\n[Settings]\n  TcpAddr = mgmt.example.net \n"
                        "ConsoleName = \" Build farm \"\n; done\n\n[actions]\nReboot = no\n"),
              TBX_SUCCESS);
    EXPECT_EQ(Result(), "Success");
    EXPECT_EQ(agent_.Settings(),
              (std::map<std::string, std::string>{{"ConsoleName", " Build farm "},
                                                  {"TcpAddr", "mgmt.example.net"}}));
    EXPECT_EQ(Configure("[Settings]\nLogDebug=yes\n[Actions]\nReboot = YES\n"), TBX_SUCCESS);
    EXPECT_EQ(Result(), "Reboot");
}

// A file that is faulty, missing or not named is not applied at all; the fault goes into
// the reply and one error line. Other messages pass on untouched.
TEST_F(ConfigToolbox, AFileThatCannotBeAppliedNamesItsFaultAndOtherMessagesPassOn) {
    struct Case {
        const char* content;
        const char* fault;
        const char* name = "site.cfg";
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
        {nullptr, "cannot open ", "none.cfg"},
        {"TcpAddr=a\n", "no configuration file: Filename is empty", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Configure(c.content, c.name), TBX_FAILED);
        EXPECT_THAT(Result(), HasSubstr(c.fault));
    }
    EXPECT_TRUE(agent_.Settings().empty());
    EXPECT_TRUE(agent_.Commands().empty());
    EXPECT_EQ(agent_.CountLines("", 0), std::size(cases)) << "one error line for each";
    for (const char* text : {"Internal=CreateSession\n", "Request=Configure\nFilename=x\n"}) {
        auto message = MessageOf(text);
        EXPECT_EQ(Offer("config", *message, agent_), TBX_NEXT_TOOLBOX);
        EXPECT_EQ(message->BuildText(), std::string(text));
    }
}

}  // namespace
