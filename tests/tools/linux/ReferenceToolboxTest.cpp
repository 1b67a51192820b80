// The reference toolboxes, loaded from their built files through the agent's own loader and
// driven through an agent whose built-in commands work in memory.

#include <dlfcn.h>
#include <utmp.h>

#include <fstream>
#include <gmock/gmock.h>

#include "agent/toolbox/Toolbox.h"
#include "common/msg/QXMessage.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/TestBasics.h"
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

// The session request, and "Internal"/"CheckUsers" in place, name the users logged on: only
// user processes count, each user once, in name order.
TEST(DefaultToolbox, SessionRequestCarriesIdentityVersionSystemUsersAndTaskState) {
    scratch::ScratchFolder root;
    std::filesystem::create_directories(root.Path() / "run");
    scratch::WriteUtmp(root / "run/utmp", {{USER_PROCESS, "zoe"},
                                           {USER_PROCESS, "adam"},
                                           {DEAD_PROCESS, "gone"},
                                           {USER_PROCESS, "zoe"},
                                           {LOGIN_PROCESS, "LOGIN"}});
    scratch::ScopedRoot scopedRoot(root.Path().c_str());
    RecordingAgent agent;
    agent.SetSetting("ClientID", "build-7");
    agent.SetState("Task-Sequence-ID", "42");
    EXPECT_EQ(Offer("default", *MessageOf("Internal=CreateSession\n"), agent), TBX_SUCCESS);
    auto request = OnlySent(agent);
    const std::string text = request->BuildText();
    for (const char* line :
         {"Request=CreateSession\n", "\nClientID=build-7\n", "\nUsers=adam,zoe\n",
          "\nAgentVersion=6.8.282\n", "\nTask-Sequence-ID=42\n", "\nUser-Count=2\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
    for (const char* field : {"HostName", "OS-Kernel", "OS-Architecture"}) {
        EXPECT_STRNE(request->GetField(field), "") << field;
    }
    auto check = MessageOf("Internal=CheckUsers\n");
    EXPECT_EQ(Offer("default", *check, agent), TBX_SUCCESS);
    EXPECT_STREQ(check->GetField("Users"), "adam,zoe");
    // Without the setting, the computer is still identified.
    RecordingAgent unnamed;
    Offer("default", *MessageOf("Internal=CreateSession\n"), unnamed);
    EXPECT_STRNE(OnlySent(unnamed)->GetField("ClientID"), "");
}

// Each message offered to the default toolbox of a fresh agent: the code it returns, and
// what the agent was asked to run; none of them sends anything. Its settings, state, ping
// and user exchanges are seen through the agent and qxsim in the demo session.
TEST(DefaultToolbox, AnswersItsRequestsThroughTheBuiltInCommands) {
    struct Case {
        const char* text;
        int code;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        // Connection commands are not the server's to run.
        {"Request=EnableEncryption\n", TBX_NEXT_TOOLBOX, {}},
        {"Request=StopService\n", TBX_NEXT_TOOLBOX, {}},
        {"Request=Inventory\nScope=All\n", TBX_NEXT_TOOLBOX, {}},
        {"Reply=Unknown\n", TBX_NEXT_TOOLBOX, {}},
        {"Request=CloseSession\nShutdown=Yes\n", TBX_SUCCESS, {"CloseSession Shutdown=Yes"}},
        // A plain close and an accepted session are the demo session's.
        {"Reply=CreateSession\nResult=Refused\n", TBX_SUCCESS, {"CloseSession Shutdown="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RecordingAgent agent;
        auto message = MessageOf(c.text);
        EXPECT_EQ(Offer("default", *message, agent), c.code);
        if (c.code == TBX_NEXT_TOOLBOX) {
            EXPECT_EQ(message->BuildText(), std::string(c.text));
        }
        EXPECT_TRUE(agent.Sent().empty());
        EXPECT_EQ(agent.Commands(), c.commands);
    }
}

// "Internal"/"Configure" applies the settings section of the file it names and asks for a
// restart when the file says so; a file that is faulty, missing or not named is not applied
// at all, its fault goes into the reply and one error line. Other messages pass on untouched.
TEST(ConfigToolbox, AppliesAWholeFileOrNamesItsFaultAndOtherMessagesPassOn) {
    struct Case {
        const char* content;                               // none written when null
        const char* result;                                // part of the reply's "Result"
        std::map<std::string, std::string> settings = {};  // only a file that applies sets any
        const char* name = "site.cfg";
    };
    const Case cases[] = {
        {"# site defaults\n[Settings]\n  TcpAddr = mgmt.example.net \n"
         "ConsoleName = \" Build farm \"\n; done\n\n[actions]\nReboot = no\n",
         "Success",
         {{"ConsoleName", " Build farm "}, {"TcpAddr", "mgmt.example.net"}}},
        {"[Settings]\nLogDebug=yes\n[Actions]\nReboot = YES\n", "Reboot", {{"LogDebug", "yes"}}},
        {"[Settings]\nTcpAddr=a\nTcpPort 4040\n", "site.cfg:3: expected name = value"},
        {"TcpAddr=a\n", "site.cfg:1: name = value before the first section"},
        {"[Settings]\n[Extras]\n", "site.cfg:2: unknown section [Extras]"},
        {"[Settings\n", "site.cfg:1: a section name ends with ]"},
        {"[Actions]\nReboot=later\n", "site.cfg:2: Reboot takes yes or no, not later"},
        {"[Actions]\nShutdown=yes\n", "site.cfg:2: unknown action Shutdown"},
        {"[Settings]\nConsoleName=\"open\n", "site.cfg:2: a quoted value ends with \""},
        {"[Settings]\n = value\n", "site.cfg:2: expected name = value"},
        {nullptr, "cannot open ", {}, "none.cfg"},
        {"TcpAddr=a\n", "no configuration file: Filename is empty", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        scratch::ScratchFolder folder;
        RecordingAgent agent;
        const std::string path = *c.name ? folder / c.name : "";
        if (c.content != nullptr) {
            std::ofstream(path) << c.content;
        }
        auto message = MessageOf("Internal=Configure\nFilename=" + path + "\n");
        const bool applies = !c.settings.empty();
        EXPECT_EQ(Offer("config", *message, agent), applies ? TBX_SUCCESS : TBX_FAILED);
        EXPECT_THAT(message->GetField("Result"), HasSubstr(c.result));
        EXPECT_EQ(agent.Settings(), c.settings);
        EXPECT_EQ(agent.Commands(), applies ? std::vector<std::string>{"SetAgentSettings"}
                                            : std::vector<std::string>{});
        EXPECT_EQ(agent.CountLines("", 0), applies ? 0u : 1u);
    }
    for (const char* text : {"Internal=CreateSession\n", "Request=Configure\nFilename=x\n"}) {
        RecordingAgent agent;
        auto message = MessageOf(text);
        EXPECT_EQ(Offer("config", *message, agent), TBX_NEXT_TOOLBOX);
        EXPECT_EQ(message->BuildText(), std::string(text));
    }
}

// A toolbox file replaced while the agent runs is read again only if the library leaves memory
// when its last owner frees it: nothing in a reference toolbox may keep it loaded.
TEST(ReferenceToolboxes, LeaveMemoryWhenFreed) {
    for (const char* name : {"default", "config"}) {
        SCOPED_TRACE(name);
        CToolBox(ToolboxPath(name).c_str()).Load();
        EXPECT_EQ(::dlopen(ToolboxPath(name).c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    }
}

}  // namespace
