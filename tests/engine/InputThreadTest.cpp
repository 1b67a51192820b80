#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "agent/engine/AgentSocket.h"
#include "agent/engine/InputThread.h"
#include "common/err/Errors.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/TestServer.h"

namespace {

using enginetest::kPatienceMs;
using enginetest::MessagePtr;
using testsupport::RecordingAgent;

// An input thread on a socket, reading into its queue for its agent.
struct InputRig {
    explicit InputRig(std::unique_ptr<ipc::CIPCInterface> transport)
        : socket(std::move(transport)) {
        thread.SetQueue(&queue);
        thread.SetSocket(&socket);
        thread.SetAgent(&agent);
    }
    ~InputRig() {
        socket.Close();
        thread.WaitForEnd();
        enginetest::Drain(queue);
    }
    bool Ended() { return thread.WaitForEnd(kPatienceMs); }

    RecordingAgent agent;
    MsgFifoQueue queue;
    CAgentSocket socket;
    CInputThread thread;
};

// An input thread reading from a connection to a test server, with no read time-out in sight.
struct InputSession : InputRig {
    InputSession() : InputRig(ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP)) {
        agent.SetSetting("TestConnectionEvery", "600000");
        socket.Connect("127.0.0.1", listener.Port());
        peer = listener.Accept();
    }

    testsupport::TestServer listener;
    testsupport::PeerSocket peer;
};

TEST(InputThread, AFullQueuePausesReadingUntilThereIsRoomOrTheSocketCloses) {
    InputSession session;
    const std::size_t limit = 3;
    session.queue.SetLimit(limit, 0);
    ASSERT_TRUE(session.thread.Start());
    std::string burst;
    const int count = 20;
    for (int i = 0; i < count; ++i) {
        burst += "Reply=" + std::to_string(i) + '\0';
    }
    testsupport::SendAll(session.peer.Get(), burst);
    ASSERT_TRUE(session.agent.WaitForLines("Input queue full"));
    for (int i = 0; i < count; ++i) {
        EXPECT_LE(session.queue.Size(), limit);
        MessagePtr message = enginetest::PopWithin(session.queue);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->GetLeadValue(), std::to_string(i));
    }
    const std::size_t pauses = session.agent.CountLines("Input queue full");
    testsupport::SendAll(session.peer.Get(), burst);
    ASSERT_TRUE(session.agent.WaitForLines("Input queue full", pauses + 1));
    session.socket.Close();
    EXPECT_TRUE(session.Ended());
}

// A thread on a transport whose reads raise what the test gives, one per read, and after
// that 10038 (not a socket), which ends the thread whatever else is wrong.
struct ScriptedReads : InputRig {
    explicit ScriptedReads(std::vector<std::uint32_t> codes)
        : InputRig(Failing(this, std::move(codes))) {}
    static std::unique_ptr<ipc::CIPCInterface> Failing(ScriptedReads* self,
                                                       std::vector<std::uint32_t> codes) {
        auto transport = std::make_unique<enginetest::ScriptedTransport>();
        transport->read = [self, codes = std::move(codes)](void*, unsigned) -> int {
            const std::size_t call = self->reads++;
            throw ipc::CIPCError("SocketIPC", "CSocketIPC::Read Socket returnd 0 bytes ", 306, 0,
                                 call < codes.size() ? codes[call] : 10038);
        };
        return transport;
    }

    std::size_t reads = 0;
};

// How a read that fails ends the thread, or not: the reads made and the line at its level.
TEST(InputThread, FailedReadsEndTheThreadByTheirCode) {
    struct Case {
        std::vector<std::uint32_t> codes;
        std::size_t reads;
        const char* line;
        int level;
        std::size_t exitingLines;  // "Exiting Input Thread" at the error level
    };
    const std::vector<Case> cases = {
        {{0}, 1, "Socket appears to be closed", 1, 1},  // the peer's orderly close
        {{10052}, 1, "Socket appears to be closed", 1, 1},
        {{10058}, 1, "Socket appears to be closed", 1, 1},
        {{10101}, 1, "Socket appears to be closed", 1, 1},
        {{10054}, 1, "cannot be recovered, GetLastError() returned 0x00002746", 1, 0},
        // Other codes are read again at once.
        {{10035, 10060, 10107}, 4, "cannot be recovered, GetLastError() returned 0x00002736", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codes.front());
        ScriptedReads script(c.codes);
        ASSERT_TRUE(script.thread.Start());
        ASSERT_TRUE(script.Ended());
        EXPECT_EQ(script.reads, c.reads);
        EXPECT_EQ(script.agent.CountLines(c.line, c.level), 1u);
        EXPECT_EQ(script.agent.CountLines("Exiting Input Thread", 0), c.exitingLines);
    }
}

}  // namespace
