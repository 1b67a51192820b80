// How a session with a real agent ends (the peer closes, resets or stays silent) and what
// outlives it in the state file.

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "agent/AgentState.h"
#include "agent/AgentStore.h"
#include "agent/QxAgent.h"
#include "agent/Settings.h"
#include "common/err/Errors.h"
#include "tests/engine/AgentSession.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

using enginetest::AgentSession;
using enginetest::MakeMessage;
using enginetest::MessagePtr;
using testsupport::Request;

class AgentLifeTest : public ::testing::Test {
protected:
    static void Open(AgentSession& session) {
        session.Start();
        ASSERT_STREQ(MakeMessage(session.Server().Next())->GetLeadValue(), "CreateSession");
    }

    static MessagePtr Command(AgentSession& session, const std::string& command,
                              const std::string& lines) {
        session.Server().Send(Request("Command", "Command=" + command + "\n" + lines));
        return MakeMessage(session.Server().Next());
    }

    // The persisted values as a new agent would load them.
    CAgentState::Persisted Saved() const {
        CAgentState state;
        LoadAgentState(root_.StateFile(), state);
        return state.TakePersisted();
    }

    enginetest::TempRoot root_;
};

// After a reset the agent's disconnect meets a connection that is already gone; the state
// file is written all the same.
TEST_F(AgentLifeTest, PeerThatClosesOrResetsEndsTheSessionAndTheStateIsSaved) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        const std::string sequence = reset ? "18" : "17";
        AgentSession session(root_);
        Open(session);
        Command(session, "SetState", "Task-Sequence-ID=" + sequence + "\nStatus-Code=99\n");
        reset ? session.Server().Reset() : session.Server().Close();
        ASSERT_TRUE(session.Ended());
        EXPECT_FALSE(session.Agent().IsCloseRequested());
        EXPECT_EQ(Saved()[0], sequence);
        EXPECT_EQ(Saved()[4], "99");
    }
}

TEST_F(AgentLifeTest, StateIsSavedWhenTheDisconnectFails) {
    auto transport = std::make_unique<enginetest::ScriptedTransport>();
    transport->read = [](void*, unsigned) -> int {
        throw ipc::CIPCError("SocketIPC", "CSocketIPC::Read Socket returnd 0 bytes ", 306, 0, 0);
    };
    transport->disconnect = []() -> int {
        throw ipc::CIPCError("SocketIPC", "CSocketIPC::Disconnect failed", 1, 0, 10054);
    };
    CQXAgent agent;
    agent.Init(util::ParamList(), std::move(transport));
    agent.SetStateFile(root_.StateFile());
    ASSERT_TRUE(agent.Start());
    MessagePtr state = MakeMessage("Command=SetState\nTask-Sequence-ID=19\n");
    agent.AgentCommand("SetState", state.get());
    agent.WaitForClose();
    agent.Destroy();
    EXPECT_EQ(Saved()[0], "19");
}

TEST_F(AgentLifeTest, SilentPeerGetsOnePingPerReadTimeout) {
    constexpr int kTimeoutMs = 200;
    constexpr int kPings = 3;
    AgentSession::Options options;
    options.testConnectionEvery = kTimeoutMs;
    AgentSession session(root_, options);
    const auto start = std::chrono::steady_clock::now();
    Open(session);
    for (int ping = 0; ping < kPings; ++ping) {
        EXPECT_STREQ(MakeMessage(session.Server().Next())->GetLeadValue(), "Ping");
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    // Never more than one per time-out: the count is a floor of the time they took.
    EXPECT_GE(elapsed.count(), (kPings - 1) * kTimeoutMs);

    // The session goes on after the pings.
    const std::string echo = Request("Echo", "Tag=after\n");
    session.Server().Send(echo);
    std::string reply = session.Server().Next();
    while (MakeMessage(reply)->GetLeadValue() == std::string("Ping")) {
        reply = session.Server().Next();
    }
    EXPECT_EQ(reply, echo);
}

TEST_F(AgentLifeTest, StateIsCarriedToTheNextAgentThroughTheStateFile) {
    {
        AgentSession first(root_);
        Open(first);
        Command(first, "SetState", "Task-Sequence-ID=42\nSchedule-ID=S-9\nStatus-Code=3\n");
        first.Server().HalfClose();
        EXPECT_EQ(first.Server().NextOrEnd(), std::nullopt);
        ASSERT_TRUE(first.Ended());
    }
    ASSERT_TRUE(std::filesystem::exists(root_.StateFile()));

    AgentSession second(root_);
    Open(second);
    MessagePtr state = Command(second, "GetState",
                               "State=Specific\nTask-Sequence-ID=\nSchedule-ID=\nStatus-Code=\n");
    EXPECT_STREQ(state->GetField("Task-Sequence-ID"), "42");
    EXPECT_STREQ(state->GetField("Schedule-ID"), "S-9");
    EXPECT_STREQ(state->GetField("Status-Code"), "3");
}

// The bootstrap destroys an agent whose start failed; the state it loaded is written back.
TEST_F(AgentLifeTest, FailedConnectIsRaisedAndDestroyStillWritesTheStateFile) {
    const CSettings settings;
    settings.SetSetting("TcpAddr", "127.0.0.1");
    settings.SetSetting("TcpPort", std::to_string(testsupport::ClosedPort()));
    CQXAgent agent;
    util::ParamList toolboxes;
    toolboxes.Add(WARDEX_SESSION_TOOLBOX);
    agent.Init(toolboxes);
    agent.SetStateFile(root_.StateFile());
    EXPECT_THROW(agent.Start(), ipc::CIPCError);
    agent.GetAgentState().Set("Task-Type", "install");
    agent.Destroy();
    EXPECT_EQ(Saved()[1], "install");
}

}  // namespace
