#include "agent/engine/WorkerPool.h"

#include <algorithm>
#include <utility>

#include "common/lang/IAThreads.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "WorkerPool";

}  // namespace

// One thread of the pool. Its next worker and its wake-up belong to the pool's lock.
class WorkerPool::PooledThread final : public lang::IAThread {
public:
    PooledThread(WorkerPool& pool, std::unique_ptr<MsgThread> first)
        : pool_(pool), next_(std::move(first)) {}
    std::uint32_t Run(std::uint32_t) override {
        pool_.Serve(*this);
        return 0;
    }

    WorkerPool& pool_;
    std::unique_ptr<MsgThread> next_;
    std::condition_variable wake_;
};

WorkerPool::WorkerPool(IAgentAPI& agent, std::size_t threadLimit, std::size_t idleLimit,
                       std::uint32_t idleTimeoutMs)
    : agent_(agent),
      threadLimit_(std::max<std::size_t>(threadLimit, 1)),
      idleLimit_(std::max<std::size_t>(idleLimit, 1)),
      idleTimeout_(idleTimeoutMs) {}

WorkerPool::~WorkerPool() {
    Stop();
}

std::unique_ptr<MsgThread> WorkerPool::Run(std::unique_ptr<MsgThread> worker) {
    std::unique_lock lock(lock_);
    for (JoinRetired(); idle_.empty() && threads_.size() >= threadLimit_; JoinRetired()) {
        threadFreed_.wait(lock);
    }
    if (!idle_.empty()) {
        PooledThread* thread = idle_.back();
        idle_.pop_back();
        thread->next_ = std::move(worker);
        // Woken after the lock is let go, so that it does not wake only to wait for the lock.
        // A thread with a worker handed to it does not leave the pool meanwhile.
        lock.unlock();
        thread->wake_.notify_one();
        return nullptr;
    }
    auto thread = std::make_unique<PooledThread>(*this, std::move(worker));
    if (!thread->Start()) {
        return std::move(thread->next_);
    }
    threads_.push_back(std::move(thread));
    return nullptr;
}

void WorkerPool::Stop() {
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
        for (PooledThread* thread : idle_) {
            thread->wake_.notify_one();
        }
        idle_.clear();
    }
    // Only this thread adds or removes threads, so the list is read without the lock.
    for (const auto& thread : threads_) {
        thread->WaitForEnd(lang::kInfinite);
    }
    std::lock_guard lock(lock_);
    retired_.clear();
    threads_.clear();
}

void WorkerPool::Serve(PooledThread& thread) {
    std::unique_ptr<MsgThread> worker;
    {
        std::lock_guard lock(lock_);
        worker = std::move(thread.next_);
    }
    while (worker) {
        worker->Run();
        // Deleted before the thread parks, so that a stop finds every message released.
        worker.reset();
        worker = Park(thread);
    }
}

std::unique_ptr<MsgThread> WorkerPool::Park(PooledThread& thread) {
    std::unique_lock lock(lock_);
    if (!stopping_ && idle_.size() < idleLimit_) {
        idle_.push_back(&thread);
        threadFreed_.notify_one();
        WARDEX_LOG(agent_, LogLevel::Debug, "- Thread %u parked for the next message",
                   thread.GetThreadId());
        const bool woken = thread.wake_.wait_for(
            lock, idleTimeout_, [this, &thread] { return thread.next_ != nullptr || stopping_; });
        if (thread.next_ != nullptr) {
            return std::move(thread.next_);
        }
        if (!woken) {
            std::erase(idle_, &thread);
        }
    }
    WARDEX_LOG(agent_, LogLevel::Debug, "- Thread %u leaves the pool", thread.GetThreadId());
    retired_.push_back(&thread);
    threadFreed_.notify_one();
    return nullptr;
}

void WorkerPool::JoinRetired() {
    for (PooledThread* thread : retired_) {
        // It has left Serve and no longer needs the lock.
        thread->WaitForEnd(lang::kInfinite);
        std::erase_if(threads_, [thread](const auto& owned) { return owned.get() == thread; });
    }
    retired_.clear();
}
