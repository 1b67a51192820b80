// A real agent against a test server on the loopback interface and the session toolbox: the
// session request, every built-in command as the server sees its reply, the message sink, the
// pings to a silent server, the end of a session and what outlives it in the state file.

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "agent/store/AgentStore.h"
#include "agent/store/Settings.h"
#include "common/err/Errors.h"
#include "tests/engine/AgentSession.h"

namespace {

using enginetest::AgentSession;
using enginetest::MakeMessage;
using enginetest::MessagePtr;
using testsupport::Request;

class AgentSessionTest : public ::testing::Test {
protected:
    // The persisted values as a new agent would load them.
    CAgentState::Persisted Saved() const {
        CAgentState state;
        LoadAgentState(stateFile_, state);
        return state.TakePersisted();
    }

    testsupport::SettingsSandbox sandbox_;
    const std::string stateFile_ = enginetest::StateFile(sandbox_);
};

TEST_F(AgentSessionTest, ReplyWithoutSuccessKeepsTheSessionPlain) {
    AgentSession session(sandbox_);
    session.Start();
    // Taken by the toolbox (no action) and dropped; the connection stays as it is.
    session.Server().Send("Reply=CreateSession\nResult=Failure\n");
    EXPECT_STREQ(session.Ask(Request("Echo", "Tag=plain\n"))->GetField("Tag"), "plain");
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
    AgentSession session(sandbox_);
    session.Start();
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
    MessagePtr all = session.Ask(Request("Command", "Command=GetState\n"));
    EXPECT_NE(std::string(all->GetField("Destination-Address")).find("127.0.0.1"),
              std::string::npos);
    EXPECT_NE(std::string(all->GetField("Source-Address")).find("127.0.0.1"), std::string::npos);
}

TEST_F(AgentSessionTest, SinkGivesParkedMessagesBackOldestOrNewestFirst) {
    AgentSession session(sandbox_);
    session.Start();
    const auto park = [&](const char* tag, int sinkType) {
        EXPECT_STREQ(session
                         .Ask(Request("Park", std::string("Tag=") + tag +
                                                  "\nSinkType=" + std::to_string(sinkType) + "\n"))
                         ->GetLeadValue(),
                     "Parked");
    };
    const auto fetch = [&](const char* action, int sinkType) {
        MessagePtr got = session.Ask(Request(action, "SinkType=" + std::to_string(sinkType)));
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

// How a session ends: CloseSession ends it in both directions at once, and its reply, which
// cannot go out, is kept with the output queue; only "Shutdown" exactly "Yes" marks the agent
// to stop. A peer that closes or resets ends it too. Each time the state reaches the state
// file.
TEST_F(AgentSessionTest, EachEndOfASessionSavesTheState) {
    struct Case {
        const char* name;
        std::string end;  // the CloseSession command's lines; "close" or "reset" by the peer
        bool closeRequested;
    };
    const std::vector<Case> cases = {
        {"close", "", false},
        {"shutdown", "Shutdown=Yes\n", true},
        {"shutdown in another case", "Shutdown=yes\n", false},
        {"peer closes", "close", false},
        {"peer resets", "reset", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AgentSession session(sandbox_);
        session.Start();
        session.Ask(
            Request("Command", "Command=SetState\nTask-Sequence-ID=" + std::string(c.name)));
        const bool byPeer = c.end == "close" || c.end == "reset";
        if (byPeer) {
            c.end == "reset" ? session.Server().Reset() : session.Server().Close();
        } else {
            session.Server().Send(Request("Command", "Command=CloseSession\n" + c.end));
            EXPECT_EQ(session.Server().NextOrEnd(), std::nullopt);
        }
        ASSERT_TRUE(session.Ended());
        EXPECT_EQ(session.Agent().IsCloseRequested(), c.closeRequested);
        EXPECT_EQ(Saved()[0], c.name);
        EXPECT_EQ(scratch::ReadFile(stateFile_).find("Returned=true\n") != std::string::npos,
                  !byPeer);
        std::filesystem::remove(stateFile_);
    }
}

// The setting counts minutes, each one millisecond long here: a ping per silence reaches the
// server through the toolbox, and the session goes on after them.
TEST_F(AgentSessionTest, SilentPeerGetsPingsAndTheSessionGoesOn) {
    AgentSession::Options options;
    options.testConnectionEvery = 50;
    AgentSession session(sandbox_, options);
    session.Start();
    for (int ping = 0; ping < 3; ++ping) {
        EXPECT_EQ(session.Server().Next(), "Reply=Ping\nTag=\n");
    }
    const std::string echo = Request("Echo", "Tag=after\n");
    session.Server().Send(echo);
    std::string reply;
    while ((reply = session.Server().Next()) == "Reply=Ping\nTag=\n") {
    }
    EXPECT_EQ(reply, echo);
}

// The bootstrap destroys an agent whose start failed; the state it loaded is written back. A
// state file that cannot be read is set aside and the agent goes on with an empty state.
TEST_F(AgentSessionTest, FailedConnectIsRaisedAndDestroyStillWritesTheStateFile) {
    const std::string damaged = "22 serialization::archive 99 0 0";
    scratch::WriteFile(stateFile_, damaged);
    const CSettings settings;
    settings.SetSetting("TcpAddr", "127.0.0.1");
    settings.SetSetting("TcpPort", std::to_string(testsupport::ClosedPort()));
    CQXAgent agent;
    agent.Init(util::ParamList());
    agent.SetStateFile(stateFile_);
    EXPECT_THROW(agent.Start(), ipc::CIPCError);
    agent.GetAgentState().Set("Task-Type", "install");
    agent.Destroy();
    EXPECT_EQ(Saved()[1], "install");
    EXPECT_EQ(scratch::ReadFile(stateFile_ + ".damaged"), damaged);
}

}  // namespace
