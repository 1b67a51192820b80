#include <gtest/gtest.h>

#include "agent/engine/MsgFifoQueue.h"
#include "common/msg/QXMessage.h"

namespace {

using msg::CQXMessage;

// Messages on the stack: a queue that released what it still holds when it ends would free
// what it does not own, which AddressSanitizer reports.
TEST(MsgFifoQueue, MessagesComeOutInOrderTheEventIsSetWhileSomeRemainAndAStopComesLast) {
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
    // A stop request gives exactly one null, once the queue is drained.
    queue.Push(&a);
    queue.Signal();
    queue.Push(&b);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &a);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), &b);
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), nullptr) << "the stop request was not lost";
    EXPECT_EQ(queue.WaitAndPop(0), nullptr);
    EXPECT_FALSE(queue.WaitOnQueue(0)) << "the stop request was taken";
    queue.Push(&c);
}

}  // namespace
