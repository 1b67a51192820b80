#include <gtest/gtest.h>

#include "agent/MsgFifoQueue.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

using enginetest::Drain;
using enginetest::MakeMessage;

TEST(QueueLimit, CountLimitHoldsBackOnlyTheProducersThatAskForRoom) {
    MsgFifoQueue queue;
    queue.SetLimit(2, 0);
    EXPECT_TRUE(queue.WaitForRoom(0));
    queue.Push(MakeMessage("Reply=1").release());
    EXPECT_TRUE(queue.WaitForRoom(0));
    queue.Push(MakeMessage("Reply=2").release());
    EXPECT_FALSE(queue.WaitForRoom(0));
    // Push itself never waits and loses nothing.
    queue.Push(MakeMessage("Reply=3").release());
    EXPECT_EQ(queue.Size(), 3u);
    enginetest::MessagePtr first(queue.Pop());
    EXPECT_FALSE(queue.WaitForRoom(0));
    enginetest::MessagePtr second(queue.Pop());
    EXPECT_TRUE(queue.WaitForRoom(0));
    EXPECT_STREQ(second->GetLeadValue(), "2");
    Drain(queue);
}

TEST(QueueLimit, ByteLimitCountsTheTextOfQueuedMessages) {
    MsgFifoQueue queue;
    auto message = MakeMessage("Reply=Sixteen\nA=b\n");  // 18 bytes of text, 19 with its zero
    const auto length = static_cast<std::size_t>(message->GetTextLength());
    queue.Push(message.release());
    queue.Push(MakeMessage("Reply=Sixteen\nA=b\n").release());
    // A limit set on a queue in use counts what is already there.
    queue.SetLimit(0, 2 * length + 1);
    EXPECT_TRUE(queue.WaitForRoom(0));
    queue.Push(MakeMessage("Reply=Sixteen\nA=b\n").release());
    EXPECT_FALSE(queue.WaitForRoom(0));
    // Taking a message out by filter frees its room too.
    struct Any final : IFilter {
        bool Match(const msg::IQXMessage&) const override { return true; }
    };
    enginetest::MessagePtr removed(queue.RemoveLastMatch(Any{}));
    EXPECT_TRUE(queue.WaitForRoom(0));
    Drain(queue);
}

}  // namespace
