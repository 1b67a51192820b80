#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "agent/MsgFifoQueue.h"
#include "agent/QueueThread.h"
#include "common/msg/QXMessage.h"

namespace {

using msg::CQXMessage;

// Messages numbered from 1, each parked under the sink type given for it.
std::vector<std::unique_ptr<CQXMessage>> Numbered(std::initializer_list<int> sinkTypes) {
    std::vector<std::unique_ptr<CQXMessage>> messages;
    for (const int sinkType : sinkTypes) {
        auto& message = messages.emplace_back(std::make_unique<CQXMessage>());
        message->SetField("Number", static_cast<int>(messages.size()));
        message->SetField("SinkType", sinkType);
    }
    return messages;
}

TEST(MsgFifoQueue, MessagesComeOutInTheOrderTheyWentIn) {
    MsgFifoQueue queue;
    CQXMessage a, b, c;
    queue.Push(&a);
    queue.Push(&b);
    queue.Push(&c);
    EXPECT_EQ(queue.Size(), 3u);
    EXPECT_EQ(queue.Pop(), &a);
    EXPECT_EQ(queue.WaitAndPop(0), &b);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &c);
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(MsgFifoQueue, TheEventIsSignalledExactlyWhileMessagesRemain) {
    MsgFifoQueue queue;
    CQXMessage a, b;
    EXPECT_FALSE(queue.WaitOnQueue(0));
    queue.Push(&a);
    queue.Push(&b);
    EXPECT_TRUE(queue.WaitOnQueue(0));
    EXPECT_EQ(queue.Pop(), &a);
    EXPECT_TRUE(queue.WaitOnQueue(0)) << "Pop signals again while a message remains";
    EXPECT_EQ(queue.Pop(), &b);
    EXPECT_FALSE(queue.WaitOnQueue(0)) << "Pop resets the event once the queue is empty";
}

TEST(MsgFifoQueue, ASignalOnAnEmptyQueueGivesExactlyOneNull) {
    MsgFifoQueue queue;
    EXPECT_EQ(queue.WaitAndPop(20), nullptr) << "a wait on an empty queue times out";
    queue.Signal();
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), nullptr);
    EXPECT_EQ(queue.WaitAndPop(0), nullptr) << "the stop request was taken";
    EXPECT_FALSE(queue.WaitOnQueue(0));
    CQXMessage a;
    queue.Push(&a);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &a);
}

TEST(MsgFifoQueue, AStopRequestWaitsUntilTheQueueIsDrained) {
    MsgFifoQueue queue;
    CQXMessage a, b, c;
    queue.Push(&a);
    queue.Signal();
    queue.Push(&b);
    queue.Push(&c);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &a);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &b);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &c);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), nullptr) << "the stop request was not lost";
}

TEST(MsgFifoQueue, RemoveMatchTakesTheFirstOrTheLastMatchAndKeepsTheRestInOrder) {
    MsgFifoQueue queue;
    const auto m = Numbered({5, 9, 5, 9, 5});
    for (const auto& message : m) {
        queue.Push(message.get());
    }
    EXPECT_EQ(queue.RemoveFirstMatch(CSinkFilter(5)), m[0].get());
    EXPECT_EQ(queue.RemoveLastMatch(CSinkFilter(5)), m[4].get());
    EXPECT_EQ(queue.RemoveLastMatch(CSinkFilter(9)), m[3].get());
    EXPECT_EQ(queue.RemoveFirstMatch(CSinkFilter(7)), nullptr);
    EXPECT_EQ(queue.RemoveLastMatch(CSinkFilter(7)), nullptr);
    EXPECT_EQ(queue.Pop(), m[1].get());
    EXPECT_EQ(queue.Pop(), m[2].get());
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(MsgFifoQueue, DestroyingTheQueueLeavesItsMessagesAlone) {
    // Messages on the stack: a queue that released them would free what it does not own,
    // which AddressSanitizer reports.
    CQXMessage a, b;
    a.SetField("Number", 1);
    b.SetField("Number", 2);
    {
        MsgFifoQueue queue;
        queue.Push(&a);
        queue.Push(&b);
    }
    EXPECT_EQ(a.GetFieldInt("Number"), 1);
    EXPECT_EQ(b.GetFieldInt("Number"), 2);
}

class Collector : public CQueueThread {
public:
    std::uint32_t Run(std::uint32_t) override {
        while (msg::IQXMessage* message = GetQueue()->WaitAndPop(lang::kInfinite)) {
            taken.push_back(message);
        }
        return static_cast<std::uint32_t>(taken.size());
    }
    std::vector<msg::IQXMessage*> taken;
};

TEST(QueueThread, ASignalEndsTheThreadOnceItsQueueIsDrained) {
    MsgFifoQueue queue;
    Collector thread;
    ASSERT_TRUE(thread.SetQueue(&queue));
    CQXMessage a, b;
    queue.Push(&a);
    queue.Push(&b);
    ASSERT_TRUE(thread.Start());
    thread.Signal();
    ASSERT_TRUE(thread.WaitForEnd(lang::kInfinite));
    EXPECT_EQ(thread.GetExitCode(), 2u);
    EXPECT_EQ(queue.Size(), 0u);
}

}  // namespace
