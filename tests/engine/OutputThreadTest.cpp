#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "agent/engine/OutputThread.h"
#include "common/err/Errors.h"
#include "common/ipc/Aipc.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

using namespace std::string_literals;
using enginetest::kPatienceMs;
using enginetest::MakeMessage;

std::string WireForm(const std::string& text) {
    return MakeMessage(text)->GetText() + "\0"s;
}

// A transport that records what is written and answers each write by the script: a number
// of bytes to report, or an error value to raise.
class ScriptedWrites final : public ipc::CIPCInterface {
public:
    struct Step {
        int shortBy = 0;         // bytes reported fewer than asked
        int errorValue = -1;     // raise ipc::CIPCError with this value when not -1
        std::uint32_t code = 0;  // and this socket code
    };

    explicit ScriptedWrites(std::vector<Step> steps) : steps_(std::move(steps)) {}

    int Connect(const char*, const char*) override { return 0; }
    int Connect(const char*, int) override { return 0; }
    int Write(const void* bytes, unsigned length, unsigned) override {
        const Step step = calls_ < steps_.size() ? steps_[calls_] : Step{};
        ++calls_;
        if (step.errorValue != -1) {
            throw ipc::CIPCError("SocketIPC", "CSocketIPC::Write failed", 1, step.errorValue,
                                 step.code);
        }
        written.emplace_back(static_cast<const char*>(bytes), length);
        return static_cast<int>(length) - step.shortBy;
    }
    int Read(void*, unsigned, unsigned) override { return 0; }
    int Disconnect() override { return 0; }
    void CancelBlockingCall() override {}

    std::vector<std::string> written;

private:
    std::vector<Step> steps_;
    std::size_t calls_ = 0;
};

// An output thread writing the replies a test queues through a scripted transport.
struct OutputRig : enginetest::ThreadRig<COutputThread> {
    explicit OutputRig(std::vector<ScriptedWrites::Step> steps)
        : OutputRig(new ScriptedWrites(std::move(steps))) {}

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
    for (const std::uint32_t lost : {10054u, 10058u}) {
        SCOPED_TRACE(lost);
        // A time-out, no buffer space, a short write, the connection lost.
        OutputRig rig({{0, 1, 10060}, {0, 0, 10055}, {lastTwo}, {0, 0, lost}});
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
    OutputRig rig({{static_cast<int>(WireForm("Reply=Kept\n").size()) + 1, -1}});
    ASSERT_TRUE(rig.Run({"Reply=Short\n", "Reply=Kept\n"}));
    EXPECT_EQ(rig.agent.CountLines("Failed to send entire message", 0), 1u);
    EXPECT_EQ(Kept(rig.queue), "Reply=Kept\n");
}

}  // namespace
