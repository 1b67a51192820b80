#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "agent/MsgFifoQueue.h"
#include "common/msg/QXMessage.h"

namespace {

constexpr int kProducers = 4;
constexpr int kPerProducer = 25000;

// Fills the queue from kProducers threads, each numbering its own messages.
std::vector<std::thread> StartProducers(MsgFifoQueue& queue) {
    std::vector<std::thread> producers;
    for (int producer = 0; producer < kProducers; ++producer) {
        producers.emplace_back([&queue, producer] {
            for (int sequence = 0; sequence < kPerProducer; ++sequence) {
                auto* message = new msg::CQXMessage;
                message->SetField("Producer", producer);
                message->SetField("Sequence", sequence);
                queue.Push(message);
            }
        });
    }
    return producers;
}

// Takes messages until the stop request and checks that each producer's messages arrive
// once each and in the order they were pushed.
void Consume(MsgFifoQueue& queue, std::vector<std::vector<int>>& seen) {
    while (msg::IQXMessage* message = queue.WaitAndPop(lang::kInfinite)) {
        seen[message->GetFieldInt("Producer")].push_back(message->GetFieldInt("Sequence"));
        message->Release();
    }
}

TEST(MsgFifoQueueStress, ManyProducersOneConsumerLoseAndRepeatNothing) {
    MsgFifoQueue queue;
    std::vector<std::vector<int>> seen(kProducers);
    std::thread consumer([&] { Consume(queue, seen); });
    for (auto& producer : StartProducers(queue)) {
        producer.join();
    }
    queue.Signal();
    consumer.join();
    for (int producer = 0; producer < kProducers; ++producer) {
        ASSERT_EQ(seen[producer].size(), static_cast<std::size_t>(kPerProducer));
        for (int sequence = 0; sequence < kPerProducer; ++sequence) {
            ASSERT_EQ(seen[producer][sequence], sequence) << "producer " << producer;
        }
    }
}

TEST(MsgFifoQueueStress, TwoConsumersNeverTakeTheSameMessage) {
    MsgFifoQueue queue;
    std::vector<std::vector<int>> first(kProducers), second(kProducers);
    std::atomic<int> ended{0};
    std::thread consumerA([&] {
        Consume(queue, first);
        ++ended;
    });
    std::thread consumerB([&] {
        Consume(queue, second);
        ++ended;
    });
    for (auto& producer : StartProducers(queue)) {
        producer.join();
    }
    // Each consumer takes a stop request of its own; either may be the first to end.
    queue.Signal();
    while (ended == 0) {
        std::this_thread::yield();
    }
    queue.Signal();
    consumerA.join();
    consumerB.join();
    for (int producer = 0; producer < kProducers; ++producer) {
        std::vector<int> all(first[producer]);
        all.insert(all.end(), second[producer].begin(), second[producer].end());
        std::sort(all.begin(), all.end());
        ASSERT_EQ(all.size(), static_cast<std::size_t>(kPerProducer));
        for (int sequence = 0; sequence < kPerProducer; ++sequence) {
            ASSERT_EQ(all[sequence], sequence) << "producer " << producer;
        }
    }
}

}  // namespace
