// A real agent against a test server on the loopback interface and the session toolbox: the
// session request, the switch to TLS, every built-in command as the server sees its reply,
// the message sink and the end of a session.

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>

#include "agent/Settings.h"
#include "tests/engine/AgentSession.h"
#include "tests/support/ScratchFiles.h"

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
        MessagePtr request = MakeMessage(session.Server().Next());
        ASSERT_STREQ(request->GetLeadName(), "Request");
        ASSERT_STREQ(request->GetLeadValue(), "CreateSession");
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

    static MessagePtr Command(AgentSession& session, const std::string& command,
                              const std::string& lines = "") {
        return Ask(session, Request("Command", "Command=" + command + "\n" + lines));
    }

    enginetest::TempRoot root_;
};

TEST_F(AgentSessionTest, SessionSwitchesToTlsOnTheServersConfirmationAndGoesOnEncrypted) {
    AgentSession session(root_);
    Open(session, true);
    ASSERT_TRUE(session.Server().Encrypted());

    for (int tag = 0; tag < 3; ++tag) {
        const std::string request = Request("Echo", "Tag=" + std::to_string(tag) + "\n");
        session.Server().Send(request);
        EXPECT_EQ(session.Server().Next(), request);
    }
    // A big message crosses many TLS records both ways.
    const std::string big = Request("Echo", "Data=" + std::string(200000, 'x') + "\n");
    session.Server().Send(big);
    EXPECT_EQ(session.Server().Next(), big);

    session.Server().HalfClose();
    EXPECT_EQ(session.Server().NextOrEnd(), std::nullopt);
    EXPECT_TRUE(session.Ended());
}

TEST_F(AgentSessionTest, ReplyWithoutSuccessKeepsTheSessionPlain) {
    AgentSession session(root_);
    Open(session, false);
    // Taken by the toolbox (no action) and dropped; the connection stays as it is.
    session.Server().Send("Reply=CreateSession\nResult=Failure\n");
    const std::string echo = Request("Echo", "Tag=plain\n");
    EXPECT_EQ(Ask(session, echo)->GetField("Tag"), std::string("plain"));
}

TEST_F(AgentSessionTest, SettingsCommandsReadAndWriteTheStore) {
    AgentSession session(root_);
    Open(session, true);

    MessagePtr got = Command(session, "GetAgentSettings",
                             "Settings=Specified\nTcpAddr=\nTestConnectionEvery=\nTag=7\n");
    EXPECT_STREQ(got->GetField("TcpAddr"), "127.0.0.1");
    EXPECT_STREQ(got->GetField("TestConnectionEvery"),
                 std::to_string(enginetest::kNoReadTimeout).c_str());
    EXPECT_STREQ(got->GetField("TcpPort"), "") << "only the named settings are filled in";
    EXPECT_STREQ(got->GetField("Tag"), "7");
    EXPECT_STREQ(got->GetField("Returned"), "true");

    MessagePtr set = Command(session, "SetAgentSettings", "LogSize=123456\n");
    EXPECT_STREQ(set->GetField("Returned"), "true");
    std::string stored;
    CSettings().GetSetting("LogSize", stored);
    EXPECT_EQ(stored, "123456");

    MessagePtr all = Command(session, "GetAgentSettings");
    EXPECT_STREQ(all->GetField("LogSize"), "123456");
    EXPECT_STREQ(all->GetField("TcpAddr"), "127.0.0.1");
}

TEST_F(AgentSessionTest, StateCommandsKeepTheTaskStateAndTheServersAddress) {
    AgentSession session(root_);
    Open(session, true);

    MessagePtr set =
        Command(session, "SetState", "Task-Sequence-ID=42\nStatus-Code=7\nNot-A-State=1\n");
    EXPECT_STREQ(set->GetField("Returned"), "true");

    MessagePtr specific =
        Command(session, "GetState", "State=Specific\nTask-Sequence-ID=\nSchedule-ID=\n");
    EXPECT_STREQ(specific->GetField("Task-Sequence-ID"), "42");
    EXPECT_STREQ(specific->GetField("Schedule-ID"), "");

    // Without "State=Specific" the message is replaced by every stored value.
    MessagePtr all = Command(session, "GetState");
    EXPECT_STREQ(all->GetField("Task-Sequence-ID"), "42");
    EXPECT_STREQ(all->GetField("Status-Code"), "7");
    EXPECT_STREQ(all->GetField("Not-A-State"), "");
    EXPECT_STREQ(all->GetField("Action"), "") << "the request's own fields are gone";
    EXPECT_NE(std::string(all->GetField("Destination-Address")).find("127.0.0.1"),
              std::string::npos);
    EXPECT_NE(std::string(all->GetField("Source-Address")).find("127.0.0.1"), std::string::npos);
}

TEST_F(AgentSessionTest, AcceptedCommandsWithoutEffectReturnTheMessageUnchanged) {
    AgentSession session(root_);
    Open(session, true);
    for (const std::string command : {"ClearState", "StopService", "RestartService"}) {
        session.Server().Send(Request("Command", "Command=" + command + "\nTag=" + command));
        // The fields come back in name order, with the toolbox's "Returned".
        EXPECT_EQ(session.Server().Next(), "Request=Work\nAction=Command\nCommand=" + command +
                                               "\nReturned=true\nTag=" + command + "\n");
    }
}

TEST_F(AgentSessionTest, UnknownCommandComesBackAsBadCommand) {
    AgentSession session(root_);
    Open(session, true);
    session.Server().Send(Request("Command", "Command=getstate\nTag=1\n"));
    EXPECT_EQ(session.Server().Next(), "getstate=BadCommand\nReturned=false\n");
}

TEST_F(AgentSessionTest, AgentUpdateInfoAddsOneEntryPerCall) {
    AgentSession session(root_);
    Open(session, true);
    const std::string file = "corvane-wardex-6.8.282.X86.exe";
    const std::string pattern = "agents\\mireton\\corvane-wardex-*.X86.exe";

    MessagePtr first = Command(session, "AgentUpdateInfo");
    EXPECT_EQ(first->GetField("Auto-Update-Current0"), file);
    EXPECT_EQ(first->GetField("Auto-Update-Pattern0"), pattern);
    EXPECT_STREQ(first->GetField("Auto-Update-Count"), "1");

    MessagePtr second =
        Command(session, "AgentUpdateInfo", "Auto-Update-Count=1\nAuto-Update-Current0=kept\n");
    EXPECT_STREQ(second->GetField("Auto-Update-Current0"), "kept");
    EXPECT_EQ(second->GetField("Auto-Update-Current1"), file);
    EXPECT_EQ(second->GetField("Auto-Update-Pattern1"), pattern);
    EXPECT_STREQ(second->GetField("Auto-Update-Count"), "2");
}

TEST_F(AgentSessionTest, SinkGivesParkedMessagesBackOldestOrNewestFirst) {
    AgentSession session(root_);
    Open(session, true);
    const auto park = [&](const char* tag, int sinkType) {
        MessagePtr ack = Ask(session, Request("Park", std::string("Tag=") + tag + "\nSinkType=" +
                                                          std::to_string(sinkType) + "\n"));
        EXPECT_STREQ(ack->GetLeadValue(), "Parked");
    };
    const auto fetch = [&](const char* action, int sinkType) {
        MessagePtr got =
            Ask(session, Request(action, "SinkType=" + std::to_string(sinkType) + "\nTag=fetch\n"));
        return std::string(got->GetLeadValue() == std::string("Empty") ? "empty"
                                                                       : got->GetField("Tag"));
    };

    park("a", 5);
    park("b", 5);
    park("c", 5);
    park("other", 6);
    EXPECT_EQ(fetch("Fetch", 5), "a");
    EXPECT_EQ(fetch("FetchReverse", 5), "c");
    EXPECT_EQ(fetch("Fetch", 9), "empty");
    EXPECT_EQ(fetch("FetchReverse", 5), "b");
    EXPECT_EQ(fetch("Fetch", 5), "empty");
    EXPECT_EQ(fetch("FetchReverse", 5), "empty");

    // A fetched message is the parked one, marked with its sink type.
    MessagePtr other = Ask(session, Request("Fetch", "SinkType=6\n"));
    EXPECT_STREQ(other->GetField("Tag"), "other");
    EXPECT_STREQ(other->GetField("SinkType"), "6");
    EXPECT_STREQ(other->GetField("Fetched"), "Yes");

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
struct CloseCase {
    const char* name;
    bool encrypted;
    const char* shutdownLine;
    bool closeRequested;
};

std::ostream& operator<<(std::ostream& out, const CloseCase& closeCase) {
    return out << closeCase.name;
}

class AgentCloseSessionTest : public AgentSessionTest,
                              public ::testing::WithParamInterface<CloseCase> {};

TEST_P(AgentCloseSessionTest, EndsTheSession) {
    AgentSession session(root_);
    Open(session, GetParam().encrypted);
    session.Server().Send(
        Request("Command", std::string("Command=CloseSession\n") + GetParam().shutdownLine));
    EXPECT_EQ(session.Server().NextOrEnd(), std::nullopt)
        << "an end in order, close_notify over TLS";
    ASSERT_TRUE(session.Ended());
    EXPECT_NE(scratch::ReadFile(root_.StateFile()).find("Returned=true\n"), std::string::npos);
    EXPECT_EQ(session.Agent().IsCloseRequested(), GetParam().closeRequested);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AgentCloseSessionTest,
    ::testing::Values(CloseCase{"Plain", false, "", false},
                      CloseCase{"PlainForGood", false, "Shutdown=Yes\n", true},
                      CloseCase{"Encrypted", true, "", false},
                      CloseCase{"EncryptedForGood", true, "Shutdown=Yes\n", true},
                      CloseCase{"EncryptedLowerCaseYes", true, "Shutdown=yes\n", false}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

}  // namespace
