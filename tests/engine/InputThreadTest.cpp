#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/AgentSocket.h"
#include "agent/InputThread.h"
#include "common/err/Errors.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/RecordingAgent.h"
#include "tests/support/TestServer.h"

namespace {

using namespace std::string_literals;
using enginetest::kPatienceMs;
using enginetest::MessagePtr;
using enginetest::PopWithin;
using testsupport::RecordingAgent;

// With the setting's minute one millisecond long, a read time-out long enough that no test
// meets one unless it asks for it.
constexpr int kNoTimeOut = 600000;

// An input thread reading from a connection to a test server.
class InputSession {
public:
    explicit InputSession(int testConnectionEvery = kNoTimeOut)
        : socket_(ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP)) {
        agent_.SetSetting("TestConnectionEvery", std::to_string(testConnectionEvery));
        socket_.Connect("127.0.0.1", listener_.Port());
        peer_ = listener_.Accept();
        thread_.SetQueue(&queue_);
        thread_.SetSocket(&socket_);
        thread_.SetAgent(&agent_);
        thread_.SetMillisecondsPerMinute(1);
    }
    ~InputSession() {
        socket_.Close();
        thread_.WaitForEnd();
        enginetest::Drain(queue_);
    }

    void Start() { ASSERT_TRUE(thread_.Start()); }
    void Send(const std::string& bytes) { testsupport::SendAll(peer_.Get(), bytes); }
    MessagePtr Next() { return PopWithin(queue_); }
    bool Ended() { return thread_.WaitForEnd(kPatienceMs); }

    RecordingAgent& Agent() { return agent_; }
    MsgFifoQueue& Queue() { return queue_; }
    CAgentSocket& Socket() { return socket_; }
    sys::FileDescriptor& Peer() { return peer_; }

private:
    testsupport::TestServer listener_;
    RecordingAgent agent_;
    MsgFifoQueue queue_;
    CAgentSocket socket_;
    sys::FileDescriptor peer_;
    CInputThread thread_;
};

TEST(InputThread, AMessageOverTheCapIsDiscardedAndTheSessionGoesOn) {
    InputSession session;
    session.Start();
    session.Send("Reply=Huge\nData=" + std::string(CMessageFramer::kMaxMessageBytes, 'h') + '\0' +
                 "Reply=After\0"s);
    MessagePtr after = session.Next();
    ASSERT_NE(after, nullptr);
    EXPECT_STREQ(after->GetLeadValue(), "After");
    // The error line follows the bytes of the read that ended the discarded message.
    ASSERT_TRUE(session.Agent().WaitForLines("Discarded 1 message(s) over 16777216 bytes"));
    EXPECT_EQ(session.Agent().CountLines("Discarded", 0), 1u);
}

TEST(InputThread, OnePingPerTimeOutExactly) {
    InputSession session(10);
    session.Start();
    ASSERT_TRUE(session.Agent().WaitForLines("Read Timed Out", 5));
    session.Socket().Close();
    ASSERT_TRUE(session.Ended());
    std::size_t pings = 0;
    while (MessagePtr message = MessagePtr(session.Queue().Pop())) {
        EXPECT_STREQ(message->GetLeadValue(), "Ping");
        ++pings;
    }
    EXPECT_EQ(pings, session.Agent().CountLines("Read Timed Out"));
}

TEST(InputThread, APeerThatClosesOrResetsEndsTheThread) {
    InputSession closing;
    closing.Start();
    closing.Send("Reply=Last\0"s);
    closing.Peer().Reset();
    ASSERT_TRUE(closing.Ended());
    MessagePtr last = closing.Next();
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(last->GetLeadValue(), "Last");
    EXPECT_EQ(closing.Agent().CountLines("Socket appears to be closed", 1), 1u);
    EXPECT_EQ(closing.Agent().CountLines("Exiting Input Thread", 0), 1u);

    InputSession resetting;
    resetting.Start();
    testsupport::ResetConnection(resetting.Peer());
    ASSERT_TRUE(resetting.Ended());
    EXPECT_EQ(resetting.Agent().CountLines(
                  "Socket exception cannot be recovered, GetLastError() returned 0x00002746", 1),
              1u);
}

// A thread on a transport that reports the given codes, one per read, and after them 10038
// (not a socket), which ends the thread whatever else is wrong.
struct ScriptedReads {
    explicit ScriptedReads(std::vector<std::uint32_t> codes) {
        auto transport = std::make_unique<enginetest::ScriptedTransport>();
        transport->read = [this, codes = std::move(codes)](void*, unsigned) -> int {
            const std::size_t call = reads++;
            const std::uint32_t code = call < codes.size() ? codes[call] : 10038;
            throw ipc::CIPCError("SocketIPC", "CSocketIPC::Read Socket returnd 0 bytes ", 306, 0,
                                 code);
        };
        socket = std::make_unique<CAgentSocket>(std::move(transport));
        thread.SetQueue(&queue);
        thread.SetSocket(socket.get());
        thread.SetAgent(&agent);
    }

    std::size_t reads = 0;
    RecordingAgent agent;
    MsgFifoQueue queue;
    std::unique_ptr<CAgentSocket> socket;
    CInputThread thread;
};

TEST(InputThread, ZeroByteReadsOfAResetOrShutConnectionEndItWithoutRetrying) {
    for (std::uint32_t code : {10052u, 10058u, 10101u}) {
        ScriptedReads script({code});
        ASSERT_TRUE(script.thread.Start());
        ASSERT_TRUE(script.thread.WaitForEnd(kPatienceMs)) << code;
        EXPECT_EQ(script.reads, 1u) << code;
        EXPECT_EQ(script.agent.CountLines("Socket appears to be closed"), 1u) << code;
    }
    // Other codes are read again at once.
    ScriptedReads script({10035, 10060, 10107});
    ASSERT_TRUE(script.thread.Start());
    ASSERT_TRUE(script.thread.WaitForEnd(kPatienceMs));
    EXPECT_EQ(script.reads, 4u);
}

TEST(InputThread, AnUnexpectedErrorEndsTheThreadWithItsLogLines) {
    auto transport = std::make_unique<enginetest::ScriptedTransport>();
    transport->read = [](void*, unsigned) -> int { throw std::logic_error("unexpected"); };
    CAgentSocket socket(std::move(transport));
    RecordingAgent agent;
    MsgFifoQueue queue;
    CInputThread thread;
    thread.SetQueue(&queue);
    thread.SetSocket(&socket);
    thread.SetAgent(&agent);
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(thread.WaitForEnd(kPatienceMs));
    EXPECT_EQ(agent.CountLines("caught undefined exception ( ... ) Exiting Input Thread", 0), 1u);
    EXPECT_EQ(agent.CountLines(" -  Exiting Input Thread", 0), 1u);
}

TEST(InputThread, TheServersSuccessfulCreateSessionReplyEnablesEncryption) {
    InputSession session;
    session.Start();
    session.Send("Reply=CreateSession\nResult=Failed\0Reply=CreateSession\nResult=Success\0"s);
    MessagePtr failed = session.Next();
    MessagePtr success = session.Next();
    ASSERT_NE(success, nullptr);
    EXPECT_STREQ(success->GetField("Result"), "Success");
    EXPECT_EQ(session.Agent().Commands(),
              (std::vector<std::string>{"GetAgentSettings", "EnableEncryption"}));
}

TEST(InputThread, AFullQueuePausesReadingUntilThereIsRoom) {
    InputSession session;
    const std::size_t limit = 3;
    session.Queue().SetLimit(limit, 0);
    session.Start();
    std::string burst;
    const int count = 20;
    for (int i = 0; i < count; ++i) {
        burst += "Reply=" + std::to_string(i) + '\0';
    }
    session.Send(burst);
    ASSERT_TRUE(session.Agent().WaitForLines("Input queue full"));
    for (int i = 0; i < count; ++i) {
        EXPECT_LE(session.Queue().Size(), limit);
        MessagePtr message = session.Next();
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->GetLeadValue(), std::to_string(i));
    }
    // Closing the socket also ends a wait for room.
    const std::size_t pauses = session.Agent().CountLines("Input queue full");
    session.Send(burst);
    ASSERT_TRUE(session.Agent().WaitForLines("Input queue full", pauses + 1));
    session.Socket().Close();
    EXPECT_TRUE(session.Ended());
}

}  // namespace
