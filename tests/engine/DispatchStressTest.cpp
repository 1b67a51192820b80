#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "agent/DispatchThread.h"
#include "agent/MsgFifoQueue.h"
#include "tests/engine/ScriptedAgent.h"

namespace {

using disptest::NewJob;
using disptest::ScriptedAgent;

constexpr std::uint32_t kPatienceMs = 60000;

// Feeds count messages numbered from 1 from two threads at once, while the dispatch thread
// takes them, then stops it the way the agent does.
void Flood(MsgFifoQueue& queue, CDispatch& dispatch, int count) {
    std::vector<std::thread> producers;
    for (int half = 0; half < 2; ++half) {
        producers.emplace_back([&queue, half, count] {
            for (int sequence = 1 + half; sequence <= count; sequence += 2) {
                queue.Push(NewJob(sequence));
            }
        });
    }
    for (auto& producer : producers) {
        producer.join();
    }
    dispatch.Signal();
    ASSERT_TRUE(dispatch.WaitForEnd(kPatienceMs));
}

void ExpectEachHandledOnce(const ScriptedAgent& agent, int count) {
    const auto handled = agent.Handled();
    ASSERT_EQ(handled.size(), static_cast<std::size_t>(count));
    int times = 0;
    for (const auto& [sequence, seen] : handled) {
        ASSERT_EQ(seen, 1) << "message " << sequence;
        times += seen;
    }
    EXPECT_EQ(times, count);
    EXPECT_EQ(handled.begin()->first, 1);
    EXPECT_EQ(handled.rbegin()->first, count);
}

class DispatchStress : public ::testing::TestWithParam<std::size_t> {};

// Thousands of short messages, with a limit that the flood keeps reaching and with the
// default one: every message handled once, every worker collected before the end.
TEST_P(DispatchStress, ManyShortMessagesAreEachHandledOnceAndEveryWorkerCollected) {
    // ThreadSanitizer makes every thread start many times slower.
#if defined(__SANITIZE_THREAD__)
    constexpr int kMessages = 4000;
#else
    constexpr int kMessages = 10000;
#endif
    const std::size_t limit = GetParam();
    MsgFifoQueue queue;
    ScriptedAgent agent;
    agent.KeepLines(false);
    CDispatch dispatch;
    dispatch.SetQueue(&queue);
    dispatch.SetAgent(&agent);
    dispatch.SetWorkerLimit(limit);
    ASSERT_TRUE(dispatch.Start());
    Flood(queue, dispatch, kMessages);

    ExpectEachHandledOnce(agent, kMessages);
    EXPECT_EQ(agent.StillOnHeap(), 0);
    EXPECT_LE(agent.MostOnHeap(), static_cast<int>(limit));
    EXPECT_EQ(queue.Size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Limits, DispatchStress,
                         ::testing::Values(std::size_t{16}, CDispatch::kDefaultWorkerLimit));

}  // namespace
