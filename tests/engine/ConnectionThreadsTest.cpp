// The connection threads, each on its socket, queue and recording agent: the input thread
// against a test server, the output thread against a scripted transport.

#include "agent/engine/AgentSocket.h"
#include "agent/engine/InputThread.h"
#include "agent/engine/OutputThread.h"
#include "common/err/Errors.h"
#include "common/ipc/Aipc.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestBasics.h"
#include "tests/support/TestServer.h"

namespace {

using namespace std::string_literals;
using enginetest::kPatienceMs;
using enginetest::MakeMessage;

// A connection thread on its socket, queue and agent. Leaving closes the socket and signals
// the queue, which ends a thread of either direction, waits for the thread and releases what
// is left queued.
template <typename Thread>
struct ThreadRig {
    explicit ThreadRig(std::unique_ptr<ipc::CIPCInterface> transport)
        : socket(std::move(transport)) {
        thread.SetQueue(&queue);
        thread.SetSocket(&socket);
        thread.SetAgent(&agent);
    }
    ~ThreadRig() {
        socket.Close();
        queue.Signal();
        thread.WaitForEnd();
        while (msg::IQXMessage* message = queue.Pop()) {
            message->Release();
        }
    }

    testsupport::RecordingAgent agent;
    MsgFifoQueue queue;
    CAgentSocket socket;
    Thread thread;
};

TEST(InputThread, AFullQueuePausesReadingUntilThereIsRoomOrTheSocketCloses) {
    // Reading from a connection to a test server, with no read time-out in sight.
    ThreadRig<CInputThread> session(ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP));
    session.agent.SetSetting("TestConnectionEvery", "600000");
    testsupport::TestServer listener;
    session.socket.Connect("127.0.0.1", listener.Port());
    const testsupport::PeerSocket peer = listener.Accept();
    const std::size_t limit = 3;
    session.queue.SetLimit(limit, 0);
    ASSERT_TRUE(session.thread.Start());
    std::string burst;
    const int count = 20;
    for (int i = 0; i < count; ++i) {
        burst += "Reply=" + std::to_string(i) + '\0';
    }
    testsupport::SendAll(peer.Get(), burst);
    ASSERT_TRUE(session.agent.WaitForLines("Input queue full"));
    for (int i = 0; i < count; ++i) {
        EXPECT_LE(session.queue.Size(), limit);
        enginetest::MessagePtr message(session.queue.WaitAndPop(kPatienceMs));
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->GetLeadValue(), std::to_string(i));
    }
    const std::size_t pauses = session.agent.CountLines("Input queue full");
    testsupport::SendAll(peer.Get(), burst);
    ASSERT_TRUE(session.agent.WaitForLines("Input queue full", pauses + 1));
    session.socket.Close();
    EXPECT_TRUE(session.thread.WaitForEnd(kPatienceMs));
}

std::string WireForm(const std::string& text) {
    return MakeMessage(text)->GetText() + "\0"s;
}

// A transport that records what is written and answers each write by the script: a number of
// bytes reported fewer than asked, or (when negative) the socket code of an ipc::CIPCError to
// raise, whose value marks a time-out.
class ScriptedWrites final : public ipc::CIPCInterface {
public:
    explicit ScriptedWrites(std::vector<int> steps) : steps_(std::move(steps)) {}

    int Connect(const char*, const char*) override { return 0; }
    int Connect(const char*, int) override { return 0; }
    int Write(const void* bytes, unsigned length, unsigned) override {
        const int step = calls_ < steps_.size() ? steps_[calls_] : 0;
        ++calls_;
        if (step < 0) {
            const auto code = static_cast<std::uint32_t>(-step);
            throw ipc::CIPCError("SocketIPC", "CSocketIPC::Write failed", 1, code == 10060 ? 1 : 0,
                                 code);
        }
        written.emplace_back(static_cast<const char*>(bytes), length);
        return static_cast<int>(length) - step;
    }
    int Read(void*, unsigned, unsigned) override { return 0; }
    int Disconnect() override { return 0; }
    void CancelBlockingCall() override {}

    std::vector<std::string> written;

private:
    std::vector<int> steps_;
    std::size_t calls_ = 0;
};

// An output thread writing the replies a test queues through a scripted transport.
struct OutputRig : ThreadRig<COutputThread> {
    explicit OutputRig(std::vector<int> steps) : OutputRig(new ScriptedWrites(std::move(steps))) {}

    // Queues the replies and lets the thread run until it ends; false when it did not.
    bool Run(const std::vector<std::string>& texts) {
        for (const std::string& text : texts) {
            queue.Push(MakeMessage(text).release());
        }
        return thread.Start() && thread.WaitForEnd(kPatienceMs);
    }

    const ScriptedWrites& script;  // owned by the socket

private:
    explicit OutputRig(ScriptedWrites* transport)
        : ThreadRig(std::unique_ptr<ipc::CIPCInterface>(transport)), script(*transport) {}
};

// What the thread left queued, in order.
std::string Kept(MsgFifoQueue& queue) {
    std::string kept;
    for (msg::IQXMessage* message : queue.Contents()) {
        kept += message->GetText();
    }
    return kept;
}

// The replies queued together go out in one write, each with its zero byte, and each keeps its
// own outcome: a time-out puts them all back in their order, another error drops only the
// first, a write that stops where a reply begins keeps that reply and the rest for the next
// write, and a reset or shut connection keeps every reply left, in order, to be saved with the
// queue, and ends the thread without being told.
TEST(OutputThread, EachWriteOutcomeKeepsOrDropsTheRightReplies) {
    const std::vector<std::string> texts = {"Reply=First\n", "Reply=Second\n", "Reply=Third\n",
                                            "Reply=Fourth\n"};
    const int lastTwo = static_cast<int>(WireForm(texts[2]).size() + WireForm(texts[3]).size());
    for (const int lost : {10054, 10058}) {
        SCOPED_TRACE(lost);
        // A time-out, no buffer space, a short write, the connection lost.
        OutputRig rig({-10060, -10055, lastTwo, -lost});
        ASSERT_TRUE(rig.Run(texts));
        EXPECT_EQ(rig.agent.CountLines("IPC Timed out, putting outgoing message back", 1), 4u);
        EXPECT_EQ(rig.agent.CountLines("Failed to send message Reply=First, dropped", 0), 1u);
        EXPECT_EQ(rig.agent.CountLines("Failed to send entire message"), 0u);
        EXPECT_EQ(
            rig.script.written,
            std::vector<std::string>{WireForm(texts[1]) + WireForm(texts[2]) + WireForm(texts[3])});
        EXPECT_EQ(Kept(rig.queue), texts[2] + texts[3]);
        EXPECT_EQ(rig.agent.CountLines("The connection is closed, 2 message(s) stay", 0), 1u);
    }
}

// A write that stops inside a reply drops that reply and ends the thread.
TEST(OutputThread, AWriteThatStopsInsideAReplyEndsTheThread) {
    OutputRig rig({static_cast<int>(WireForm("Reply=Kept\n").size()) + 1});
    ASSERT_TRUE(rig.Run({"Reply=Short\n", "Reply=Kept\n"}));
    EXPECT_EQ(rig.agent.CountLines("Failed to send entire message", 0), 1u);
    EXPECT_EQ(Kept(rig.queue), "Reply=Kept\n");
}

}  // namespace
