#include <atomic>

#include "agent/queue/MsgFifoQueue.h"
#include "common/msg/QXMessage.h"
#include "tests/support/TestBasics.h"

namespace {

constexpr int kProducers = 4;
constexpr int kPerProducer = 25000;

// Each consumer records, per producer, the sequence numbers it took.
using Seen = std::vector<std::vector<int>>;

void Consume(MsgFifoQueue& queue, Seen& seen, std::atomic<int>& ended) {
    while (msg::IQXMessage* message = queue.WaitAndPop(lang::kInfinite)) {
        seen[message->GetFieldInt("Producer")].push_back(message->GetFieldInt("Sequence"));
        message->Release();
    }
    ++ended;
}

// Four producers and two consumers at once: every message arrives once, and each consumer
// takes each producer's messages in the order they were pushed.
TEST(MsgFifoQueueStress, ManyProducersTwoConsumersLoseRepeatAndReorderNothing) {
    MsgFifoQueue queue;
    Seen first(kProducers), second(kProducers);
    std::atomic<int> ended{0};
    std::thread consumerA([&] { Consume(queue, first, ended); });
    std::thread consumerB([&] { Consume(queue, second, ended); });
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
    for (auto& producer : producers) {
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
        std::vector<bool> taken(kPerProducer, false);
        for (const Seen* seen : {&first, &second}) {
            const std::vector<int>& sequence = (*seen)[producer];
            ASSERT_TRUE(std::is_sorted(sequence.begin(), sequence.end())) << producer;
            for (const int number : sequence) {
                ASSERT_FALSE(taken[number]) << "taken twice: " << producer << "/" << number;
                taken[number] = true;
            }
        }
        EXPECT_EQ(std::count(taken.begin(), taken.end(), true), kPerProducer) << producer;
    }
}

}  // namespace
