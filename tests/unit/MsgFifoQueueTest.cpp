#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "agent/engine/MsgFifoQueue.h"
#include "agent/engine/QueueThread.h"
#include "common/msg/QXMessage.h"

namespace {

using msg::CQXMessage;

// Messages on the stack: a queue that released what it still holds when it ends would free
// what it does not own, which AddressSanitizer reports.
TEST(MsgFifoQueue, MessagesComeOutInOrderAndTheEventIsSetExactlyWhileSomeRemain) {
    CQXMessage a, b, c;
    MsgFifoQueue queue;
    EXPECT_FALSE(queue.WaitOnQueue(0));
    queue.Push(&a);
    queue.Push(&b);
    EXPECT_TRUE(queue.WaitOnQueue(0));
    EXPECT_EQ(queue.Pop(), &a);
    EXPECT_TRUE(queue.WaitOnQueue(0)) << "Pop signals again while a message remains";
    EXPECT_EQ(queue.Pop(), &b);
    EXPECT_FALSE(queue.WaitOnQueue(0)) << "the event is reset once the queue is empty";
    EXPECT_EQ(queue.WaitAndPop(20), nullptr) << "a wait on an empty queue times out";
    queue.Push(&c);
    queue.Push(&a);
}

TEST(MsgFifoQueue, AStopRequestGivesExactlyOneNullOnceTheQueueIsDrained) {
    MsgFifoQueue queue;
    CQXMessage a, b;
    queue.Push(&a);
    queue.Signal();
    queue.Push(&b);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &a);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &b);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), nullptr) << "the stop request was not lost";
    EXPECT_EQ(queue.WaitAndPop(0), nullptr);
    EXPECT_FALSE(queue.WaitOnQueue(0)) << "the stop request was taken";
}

TEST(MsgFifoQueue, RemoveMatchTakesTheFirstOrTheLastMatchAndKeepsTheRestInOrder) {
    MsgFifoQueue queue;
    CQXMessage m[5];
    for (int i = 0; i < 5; ++i) {
        m[i].SetField("SinkType", i % 2 == 0 ? 5 : 9);
        queue.Push(&m[i]);
    }
    EXPECT_EQ(queue.RemoveFirstMatch(CSinkFilter(5)), &m[0]);
    EXPECT_EQ(queue.RemoveLastMatch(CSinkFilter(5)), &m[4]);
    EXPECT_EQ(queue.RemoveLastMatch(CSinkFilter(9)), &m[3]);
    EXPECT_EQ(queue.RemoveFirstMatch(CSinkFilter(7)), nullptr);
    EXPECT_EQ(queue.RemoveLastMatch(CSinkFilter(7)), nullptr);
    EXPECT_EQ(queue.Pop(), &m[1]);
    EXPECT_EQ(queue.Pop(), &m[2]);
    EXPECT_EQ(queue.Pop(), nullptr);
}

class Collector : public CQueueThread {
public:
    std::uint32_t Run(std::uint32_t) override {
        std::uint32_t taken = 0;
        while (GetQueue()->WaitAndPop(lang::kInfinite) != nullptr) {
            ++taken;
        }
        return taken;
    }
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
}

}  // namespace
