#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <corvane/IAgentAPI.h>

#include "agent/engine/MsgThread.h"

// The threads the message workers run on. Creating and joining a thread costs far more than
// handling a short message, so a thread that has finished its worker stays parked for the
// next one instead of ending, as long as fewer than the idle limit are parked already. A
// parked thread that gets no worker within the idle time-out ends, so a quiet agent keeps
// no threads beyond its own. A thread runs one worker at a time, and at most the thread limit
// of threads exist at once. A thread deletes its worker once it has run it, which releases the
// worker's message.
//
// Used by one thread, the dispatch thread: Run hands out the workers, Stop ends the pool.
class WorkerPool final {
public:
    static constexpr std::size_t kDefaultIdleLimit = 64;
    static constexpr std::uint32_t kDefaultIdleTimeoutMs = 1000;

    // Both limits at least one.
    WorkerPool(IAgentAPI& agent, std::size_t threadLimit, std::size_t idleLimit,
               std::uint32_t idleTimeoutMs = kDefaultIdleTimeoutMs);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    // Stops first, as Stop.
    ~WorkerPool();

    // Runs the worker on a parked thread, or on a new one while there are fewer than the
    // thread limit; otherwise waits until a thread is parked or has ended. Null once a thread
    // has the worker; the worker itself when no thread could be started: it has not run and
    // is the caller's to run.
    std::unique_ptr<MsgThread> Run(std::unique_ptr<MsgThread> worker);
    // Lets the parked threads end, then waits until every thread, busy ones too, has ended
    // and so every worker has been deleted.
    void Stop();

private:
    class PooledThread;

    // On a pooled thread: runs the workers handed to it until it is let go.
    void Serve(PooledThread& thread);
    // On a pooled thread that has finished a worker: the next worker, or null when the
    // thread is to end.
    std::unique_ptr<MsgThread> Park(PooledThread& thread);
    // With the lock held: joins and deletes the threads that have left Serve.
    void JoinRetired();

    IAgentAPI& agent_;
    const std::size_t threadLimit_;
    const std::size_t idleLimit_;
    const std::chrono::milliseconds idleTimeout_;
    std::mutex lock_;
    // Notified when a thread parks or retires.
    std::condition_variable threadFreed_;
    std::vector<std::unique_ptr<PooledThread>> threads_;
    std::vector<PooledThread*> idle_;
    std::vector<PooledThread*> retired_;
    bool stopping_ = false;
};
