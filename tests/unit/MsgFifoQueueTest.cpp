#include <gtest/gtest.h>

#include "agent/engine/MsgFifoQueue.h"
#include "common/msg/QXMessage.h"

namespace {

using msg::CQXMessage;

// Messages on the stack: a queue that released what it still holds when it ends would free
// what it does not own, which AddressSanitizer reports.
TEST(MsgFifoQueue, MessagesComeOutInOrderAndAStopComesOnceAfterThem) {
    CQXMessage a, b, c;
    MsgFifoQueue queue;
    EXPECT_EQ(queue.WaitAndPop(20), nullptr) << "a wait on an empty queue times out";
    queue.Push(&a);
    queue.Signal();
    queue.Push(&b);
    EXPECT_EQ(queue.WaitAndPop(0), &a);
    EXPECT_EQ(queue.WaitAndPop(0), &b) << "Pop signals again while a message remains";
    EXPECT_EQ(queue.WaitAndPop(lang::kInfinite), nullptr) << "the stop request was not lost";
    queue.Push(&c);
    EXPECT_EQ(queue.WaitAndPop(0), &c);
    EXPECT_FALSE(queue.WaitOnQueue(0)) << "the stop request was taken";
}

}  // namespace
