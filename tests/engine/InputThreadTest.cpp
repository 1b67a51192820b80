#include <gtest/gtest.h>
#include <string>

#include "agent/engine/InputThread.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestServer.h"

namespace {

using enginetest::kPatienceMs;
using enginetest::MessagePtr;

// An input thread reading from a connection to a test server, with no read time-out in sight.
struct InputSession : enginetest::ThreadRig<CInputThread> {
    InputSession() : ThreadRig(ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP)) {
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
        MessagePtr message(session.queue.WaitAndPop(kPatienceMs));
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->GetLeadValue(), std::to_string(i));
    }
    const std::size_t pauses = session.agent.CountLines("Input queue full");
    testsupport::SendAll(session.peer.Get(), burst);
    ASSERT_TRUE(session.agent.WaitForLines("Input queue full", pauses + 1));
    session.socket.Close();
    EXPECT_TRUE(session.thread.WaitForEnd(kPatienceMs));
}

}  // namespace
