// Handing messages from one thread to another through the agent's queue, against a
// baseline hand-over through a plain mutex, condition variable and deque.

#include <benchmark/benchmark.h>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "agent/queue/MsgFifoQueue.h"
#include "common/msg/QXMessage.h"

namespace {

constexpr int kBatch = 10000;

class BaselineQueue {
public:
    void Push(msg::IQXMessage* message) {
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(message);
        }
        ready_.notify_one();
    }
    msg::IQXMessage* WaitAndPop() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !messages_.empty(); });
        msg::IQXMessage* message = messages_.front();
        messages_.pop_front();
        return message;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<msg::IQXMessage*> messages_;
};

// One producer pushes a batch of messages while the calling thread takes them out.
template <typename Queue, typename Take>
void HandOver(benchmark::State& state, Take take) {
    msg::CQXMessage message;
    for (auto _ : state) {
        Queue queue;
        std::thread producer([&queue, &message] {
            for (int i = 0; i < kBatch; ++i) {
                queue.Push(&message);
            }
        });
        for (int i = 0; i < kBatch; ++i) {
            benchmark::DoNotOptimize(take(queue));
        }
        producer.join();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_BaselineHandOver(benchmark::State& state) {
    HandOver<BaselineQueue>(state, [](BaselineQueue& queue) { return queue.WaitAndPop(); });
}
BENCHMARK(BM_BaselineHandOver)->UseRealTime();

void BM_MsgFifoQueueHandOver(benchmark::State& state) {
    HandOver<MsgFifoQueue>(state,
                           [](MsgFifoQueue& queue) { return queue.WaitAndPop(lang::kInfinite); });
}
BENCHMARK(BM_MsgFifoQueueHandOver)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
