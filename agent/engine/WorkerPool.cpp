#include "agent/engine/WorkerPool.h"

#include <algorithm>
#include <utility>

#include "agent/engine/MsgThread.h"
#include "agent/toolbox/KeptToolboxes.h"
#include "common/lang/IAThreads.h"
#include "common/lang/YieldBriefly.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "WorkerPool";

}  // namespace

class WorkerPool::PooledThread final : public lang::IAThread {
public:
    explicit PooledThread(WorkerPool& pool) : pool_(pool) {}
    std::uint32_t Run(std::uint32_t) override {
        pool_.Serve(*this);
        return 0;
    }

private:
    WorkerPool& pool_;
};

WorkerPool::WorkerPool(IAgentAPI& agent, MsgFifoQueue& queue, std::size_t threadLimit,
                       std::size_t idleLimit, std::uint32_t idleTimeoutMs)
    : agent_(agent),
      queue_(queue),
      threadLimit_(std::max<std::size_t>(threadLimit, 1)),
      idleLimit_(std::max<std::size_t>(idleLimit, 1)),
      idleTimeout_(idleTimeoutMs) {}

WorkerPool::~WorkerPool() {
    Stop();
}

bool WorkerPool::Offer() {
    // A thread looking at the queue takes it: a busy stream mostly passes here, without the
    // lock. (A thread about to park counts as looking until it has looked under the lock.)
    if (queue_.Glance() <= looking_) {
        return true;
    }
    std::unique_lock lock(lock_);
    JoinRetired();
    // Or one woken already.
    if (queue_.Glance() <= looking_ + wakes_) {
        return true;
    }
    if (parked_ > wakes_) {
        ++wakes_;
        // Woken after the lock is let go, so that it does not wake only to wait for the lock.
        lock.unlock();
        wake_.notify_one();
        return true;
    }
    if (threads_.size() >= threadLimit_) {
        return true;  // every thread is busy: the first to finish takes the message
    }
    auto thread = std::make_unique<PooledThread>(*this);
    if (thread->Start()) {
        threads_.push_back(std::move(thread));
        return true;
    }
    return !threads_.empty();
}

void WorkerPool::Stop() {
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    // Only the thread that offers messages adds threads, so the list is read without the lock.
    for (const auto& thread : threads_) {
        thread->WaitForEnd(lang::kInfinite);
    }
    std::lock_guard lock(lock_);
    retired_.clear();
    threads_.clear();
}

void WorkerPool::Serve(PooledThread& thread) {
    do {
        // The toolboxes of the messages that follow closely stay loaded until the thread parks.
        const toolbox::KeptToolboxes kept;
        do {
            while (msg::IQXMessage* message = queue_.Pop()) {
                MsgThread worker;
                worker.SetArgs(&agent_, message);
                worker.Run();
            }
        } while (LookAround());
    } while (Park(thread));
}

bool WorkerPool::LookAround() {
    ++looking_;
    if (lang::YieldBriefly([this] { return queue_.Glance() > 0; })) {
        --looking_;
        return true;
    }
    return false;
}

bool WorkerPool::Park(PooledThread& thread) {
    std::unique_lock lock(lock_);
    --looking_;
    // A message queued after the thread looked, whose Offer found it not yet parked.
    while (queue_.Size() == 0) {
        if (stopping_ || parked_ >= idleLimit_) {
            break;
        }
        ++parked_;
        WARDEX_LOG(agent_, LogLevel::Debug, "- Thread %u parked for the next message",
                   thread.GetThreadId());
        const bool woken =
            wake_.wait_for(lock, idleTimeout_, [this] { return wakes_ > 0 || stopping_; });
        --parked_;
        if (wakes_ > 0) {
            --wakes_;
            return true;
        }
        if (!woken) {
            break;
        }
    }
    if (queue_.Size() > 0) {
        return true;
    }
    WARDEX_LOG(agent_, LogLevel::Debug, "- Thread %u leaves the pool", thread.GetThreadId());
    retired_.push_back(&thread);
    return false;
}

void WorkerPool::JoinRetired() {
    for (PooledThread* thread : retired_) {
        // It has left Serve and no longer needs the lock.
        thread->WaitForEnd(lang::kInfinite);
        std::erase_if(threads_, [thread](const auto& owned) { return owned.get() == thread; });
    }
    retired_.clear();
}
