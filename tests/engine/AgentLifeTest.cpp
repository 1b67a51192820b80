// How a session with a real agent ends (the peer closes, resets or stays silent) and what
// outlives it in the state file.

#include <gtest/gtest.h>
#include <string>

#include "agent/engine/QxAgent.h"
#include "agent/store/AgentState.h"
#include "agent/store/AgentStore.h"
#include "agent/store/Settings.h"
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

// How often a ping goes out is counted beside the input thread; here the pings reach the
// server through the toolbox and the session goes on after them.
TEST_F(AgentLifeTest, SilentPeerGetsPingsAndTheSessionGoesOn) {
    AgentSession::Options options;
    options.testConnectionEvery = 50;
    AgentSession session(root_, options);
    Open(session);
    EXPECT_STREQ(MakeMessage(session.Server().Next())->GetLeadValue(), "Ping");
    const std::string echo = Request("Echo", "Tag=after\n");
    session.Server().Send(echo);
    std::string reply = session.Server().Next();
    while (MakeMessage(reply)->GetLeadValue() == std::string("Ping")) {
        reply = session.Server().Next();
    }
    EXPECT_EQ(reply, echo);
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
