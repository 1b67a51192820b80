#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "agent/engine/AgentSocket.h"
#include "agent/engine/OutputThread.h"
#include "common/err/Errors.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/RecordingAgent.h"

namespace {

using namespace std::string_literals;
using enginetest::kPatienceMs;
using enginetest::MakeMessage;

std::string WireForm(const std::string& text) {
    return MakeMessage(text)->GetText() + "\0"s;
}

// An output thread bound to a socket and a queue.
struct OutputRig {
    explicit OutputRig(CAgentSocket& socket) {
        thread.SetQueue(&queue);
        thread.SetSocket(&socket);
        thread.SetAgent(&agent);
    }
    ~OutputRig() {
        queue.Signal();
        thread.WaitForEnd();
        enginetest::Drain(queue);
    }
    void Queue(const std::string& text) { queue.Push(MakeMessage(text).release()); }

    testsupport::RecordingAgent agent;
    MsgFifoQueue queue;
    COutputThread thread;
};

// A socket over a transport that records what is written and answers each write by the
// script: a number of bytes to report, or an error value to raise.
struct ScriptedWrites {
    struct Step {
        int shortBy = 0;      // bytes reported fewer than asked
        int errorValue = -1;  // raise ipc::CIPCError with this value when not -1
        // The error's socket code: a time-out's for value 1, otherwise one that leaves the
        // connection usable (no buffer space) unless given.
        std::uint32_t code = 0;
    };

    explicit ScriptedWrites(std::vector<Step> steps) {
        auto transport = std::make_unique<enginetest::ScriptedTransport>();
        transport->write = [this, steps = std::move(steps)](const void* bytes,
                                                            unsigned length) -> int {
            const std::size_t call = calls++;
            const Step step = call < steps.size() ? steps[call] : Step{};
            if (step.errorValue != -1) {
                const std::uint32_t fallback = step.errorValue == 1 ? 10060 : 10055;
                throw ipc::CIPCError("SocketIPC", "CSocketIPC::Write failed", 1, step.errorValue,
                                     step.code != 0 ? step.code : fallback);
            }
            written.emplace_back(static_cast<const char*>(bytes), length);
            return static_cast<int>(length) - step.shortBy;
        };
        socket = std::make_unique<CAgentSocket>(std::move(transport));
    }

    std::size_t calls = 0;
    std::vector<std::string> written;
    std::unique_ptr<CAgentSocket> socket;
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
    for (const std::uint32_t lost : {10054u, 10058u}) {
        SCOPED_TRACE(lost);
        ScriptedWrites script({{0, 1}, {0, 0}, {lastTwo, -1}, {0, 0, lost}});
        OutputRig rig(*script.socket);
        for (const std::string& text : texts) {
            rig.Queue(text);
        }
        ASSERT_TRUE(rig.thread.Start());
        ASSERT_TRUE(rig.thread.WaitForEnd(kPatienceMs));
        EXPECT_EQ(rig.agent.CountLines("IPC Timed out, putting outgoing message back", 1), 4u);
        EXPECT_EQ(rig.agent.CountLines("Failed to send message Reply=First, dropped", 0), 1u);
        EXPECT_EQ(rig.agent.CountLines("Failed to send entire message"), 0u);
        EXPECT_EQ(script.written, std::vector<std::string>{WireForm(texts[1]) + WireForm(texts[2]) +
                                                           WireForm(texts[3])});
        EXPECT_EQ(Kept(rig.queue), texts[2] + texts[3]);
        EXPECT_EQ(rig.agent.CountLines("The connection is closed, 2 message(s) stay", 0), 1u);
    }
}

// A write that stops inside a reply drops that reply and ends the thread.
TEST(OutputThread, AWriteThatStopsInsideAReplyEndsTheThread) {
    ScriptedWrites script({{static_cast<int>(WireForm("Reply=Kept\n").size()) + 1, -1}});
    OutputRig rig(*script.socket);
    rig.Queue("Reply=Short\n");
    rig.Queue("Reply=Kept\n");
    ASSERT_TRUE(rig.thread.Start());
    ASSERT_TRUE(rig.thread.WaitForEnd(kPatienceMs));
    EXPECT_EQ(rig.agent.CountLines("Failed to send entire message", 0), 1u);
    EXPECT_EQ(Kept(rig.queue), "Reply=Kept\n");
}

}  // namespace
