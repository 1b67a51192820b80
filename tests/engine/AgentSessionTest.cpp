// A real agent against a test server on the loopback interface and the session toolbox: the
// session request, the switch to TLS, every built-in command as the server sees its reply,
// the message sink and the end of a session.

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "agent/store/Settings.h"
#include "tests/engine/AgentSession.h"

namespace {

using enginetest::AgentSession;
using enginetest::MakeMessage;
using enginetest::MessagePtr;
using testsupport::Request;

class AgentSessionTest : public ::testing::Test {
protected:
    // The certificates exist before any agent thread starts.
    static void SetUpTestSuite() { testsupport::TestPki::Instance(); }

    // Takes the agent's session request; with encrypted, confirms it and switches both ends
    // to TLS.
    static void Open(AgentSession& session, bool encrypted) {
        session.Start();
        ASSERT_EQ(session.Server().Next(), "Request=CreateSession\nCount=1\n");
        if (encrypted) {
            session.Server().Send("Reply=CreateSession\nResult=Success\n");
            session.Server().StartTls(testsupport::TestPki::Instance().ServerContext(true));
        }
    }

    // Sends the request and parses the next message from the agent.
    static MessagePtr Ask(AgentSession& session, const std::string& text) {
        session.Server().Send(text);
        return MakeMessage(session.Server().Next());
    }

    enginetest::TempRoot root_;
};

TEST_F(AgentSessionTest, SessionSwitchesToTlsOnTheServersConfirmationAndGoesOnEncrypted) {
    AgentSession session(root_);
    Open(session, true);
    ASSERT_TRUE(session.Server().Encrypted());
    // A big message crosses many TLS records both ways.
    for (const std::string& data : {std::string("small"), std::string(200000, 'x')}) {
        const std::string request = Request("Echo", "Data=" + data + "\n");
        session.Server().Send(request);
        EXPECT_EQ(session.Server().Next(), request);
    }
    session.Server().HalfClose();
    EXPECT_EQ(session.Server().NextOrEnd(), std::nullopt);
    EXPECT_TRUE(session.Ended());
}

TEST_F(AgentSessionTest, ReplyWithoutSuccessKeepsTheSessionPlain) {
    AgentSession session(root_);
    Open(session, false);
    // Taken by the toolbox (no action) and dropped; the connection stays as it is.
    session.Server().Send("Reply=CreateSession\nResult=Failure\n");
    EXPECT_STREQ(Ask(session, Request("Echo", "Tag=plain\n"))->GetField("Tag"), "plain");
}

// The built-in commands in one session, each step seeing what the ones before it stored. The
// reply is the whole text given, or holds each "Name=value" line given (an empty value: the
// field is empty or absent).
TEST_F(AgentSessionTest, BuiltInCommandsAnswerTheServer) {
    struct Step {
        const char* command;
        std::string lines;
        std::string expected;
        bool whole = false;
    };
    const std::string file = "corvane-wardex-6.8.282.X86.exe";
    const std::string pattern = "agents\\mireton\\corvane-wardex-*.X86.exe";
    const std::vector<Step> steps = {
        {"SetState", "Task-Sequence-ID=42\nStatus-Code=7\nNot-A-State=1\n", "Returned=true\n"},
        {"GetState", "State=Specific\nTask-Sequence-ID=\nSchedule-ID=\n",
         "Task-Sequence-ID=42\nSchedule-ID=\n"},
        // Without "State=Specific" the message is replaced by every stored value.
        {"GetState", "", "Task-Sequence-ID=42\nStatus-Code=7\nNot-A-State=\nAction=\n"},
        {"GetAgentSettings", "Settings=Specified\nTcpAddr=\nTestConnectionEvery=\nTag=7\n",
         "TcpAddr=127.0.0.1\nTestConnectionEvery=600000\nTcpPort=\nTag=7\nReturned=true\n"},
        {"SetAgentSettings", "LogSize=123456\n", "Returned=true\n"},
        {"GetAgentSettings", "", "LogSize=123456\nTcpAddr=127.0.0.1\n"},
        {"AgentUpdateInfo", "",
         "Auto-Update-Current0=" + file + "\nAuto-Update-Pattern0=" + pattern +
             "\nAuto-Update-Count=1\n"},
        {"AgentUpdateInfo", "Auto-Update-Count=1\nAuto-Update-Current0=kept\n",
         "Auto-Update-Current0=kept\nAuto-Update-Current1=" + file +
             "\nAuto-Update-Pattern1=" + pattern + "\nAuto-Update-Count=2\n"},
        // Accepted without effect: the fields come back in name order with "Returned".
        {"ClearState", "Tag=1\n",
         "Request=Work\nAction=Command\nCommand=ClearState\nReturned=true\nTag=1\n", true},
        {"StopService", "", "Request=Work\nAction=Command\nCommand=StopService\nReturned=true\n",
         true},
        {"RestartService", "",
         "Request=Work\nAction=Command\nCommand=RestartService\nReturned=true\n", true},
        {"getstate", "Tag=1\n", "getstate=BadCommand\nReturned=false\n", true},
    };
    AgentSession session(root_);
    Open(session, true);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command + (": " + step.lines));
        session.Server().Send(
            Request("Command", "Command=" + std::string(step.command) + "\n" + step.lines));
        const std::string reply = session.Server().Next();
        if (step.whole) {
            EXPECT_EQ(reply, step.expected);
            continue;
        }
        const MessagePtr message = MakeMessage(reply);
        for (const std::string& line : scratch::Lines(step.expected)) {
            const std::size_t split = line.find('=');
            EXPECT_EQ(message->GetField(line.substr(0, split).c_str()), line.substr(split + 1))
                << reply;
        }
    }
    std::string stored;
    CSettings().GetSetting("LogSize", stored);
    EXPECT_EQ(stored, "123456");
    MessagePtr all = Ask(session, Request("Command", "Command=GetState\n"));
    EXPECT_NE(std::string(all->GetField("Destination-Address")).find("127.0.0.1"),
              std::string::npos);
    EXPECT_NE(std::string(all->GetField("Source-Address")).find("127.0.0.1"), std::string::npos);
}

TEST_F(AgentSessionTest, SinkGivesParkedMessagesBackOldestOrNewestFirst) {
    AgentSession session(root_);
    Open(session, true);
    const auto park = [&](const char* tag, int sinkType) {
        EXPECT_STREQ(Ask(session, Request("Park", std::string("Tag=") + tag + "\nSinkType=" +
                                                      std::to_string(sinkType) + "\n"))
                         ->GetLeadValue(),
                     "Parked");
    };
    const auto fetch = [&](const char* action, int sinkType) {
        MessagePtr got = Ask(session, Request(action, "SinkType=" + std::to_string(sinkType)));
        return got->GetLeadValue() == std::string("Empty")
                   ? std::string("empty")
                   : std::string(got->GetField("Tag")) + "/" + got->GetField("SinkType") + "/" +
                         got->GetField("Fetched");
    };
    for (const char* tag : {"a", "b", "c"}) {
        park(tag, 5);
    }
    park("other", 6);
    EXPECT_EQ(fetch("Fetch", 5), "a/5/Yes");
    EXPECT_EQ(fetch("FetchReverse", 5), "c/5/Yes");
    EXPECT_EQ(fetch("Fetch", 9), "empty");
    EXPECT_EQ(fetch("FetchReverse", 5), "b/5/Yes");
    EXPECT_EQ(fetch("Fetch", 5), "empty");
    EXPECT_EQ(fetch("FetchReverse", 5), "empty");
    EXPECT_EQ(fetch("Fetch", 6), "other/6/Yes");
    // One left parked at the end is released with the sink.
    park("left", 5);
}

TEST_F(AgentSessionTest, ToolboxFailureEndsOnlyItsOwnMessage) {
    AgentSession session(root_);
    Open(session, true);
    session.Server().Send(Request("Throw"));
    const std::string echo = Request("Echo", "Tag=after\n");
    session.Server().Send(echo);
    EXPECT_EQ(session.Server().Next(), echo);
}

// CloseSession ends the session whether or not it is encrypted, in both directions at once: a
// reply made after it cannot go out and is kept with the output queue in the state file. Only
// "Shutdown" exactly "Yes" marks the agent to stop.
TEST_F(AgentSessionTest, CloseSessionEndsTheSession) {
    struct Case {
        bool encrypted;
        const char* shutdownLine;
        bool closeRequested;
    };
    for (const Case& c :
         {Case{false, "", false}, Case{false, "Shutdown=Yes\n", true}, Case{true, "", false},
          Case{true, "Shutdown=Yes\n", true}, Case{true, "Shutdown=yes\n", false}}) {
        SCOPED_TRACE(std::string(c.encrypted ? "encrypted " : "plain ") + c.shutdownLine);
        AgentSession session(root_);
        Open(session, c.encrypted);
        session.Server().Send(
            Request("Command", std::string("Command=CloseSession\n") + c.shutdownLine));
        EXPECT_EQ(session.Server().NextOrEnd(), std::nullopt)
            << "an end in order, close_notify over TLS";
        ASSERT_TRUE(session.Ended());
        EXPECT_NE(scratch::ReadFile(root_.StateFile()).find("Returned=true\n"), std::string::npos);
        EXPECT_EQ(session.Agent().IsCloseRequested(), c.closeRequested);
        std::filesystem::remove(root_.StateFile());
    }
}

}  // namespace
