#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <corvane/IAgentAPI.h>

#include "agent/queue/MsgFifoQueue.h"

// The threads the message workers run on, fed from the input queue. Whoever queues a message
// offers it to the pool (Offer): a parked thread is woken for it or, when none is parked, a
// new thread starts while there are fewer than the thread limit. A thread that has finished a
// message takes the next queued one at once, so a busy stream costs no wake-up per message;
// at the limit a queued message waits for the first thread to finish. A thread that finds the
// queue empty looks at it a while longer before it parks (lang::YieldBriefly), and a message
// queued meanwhile is left to it rather than woken for, so a busy stream also costs few
// wake-ups between its bursts. Every message thus runs on a thread that runs nothing else
// meanwhile, and a slow toolbox never holds up the next message while the limit leaves room.
//
// Creating and joining a thread costs far more than handling a short message, so a thread
// that finds the queue empty stays parked for the next message instead of ending, as long as
// fewer than the idle limit are parked already; a parked thread that gets no message within
// the idle time-out ends, so a quiet agent keeps no threads beyond its own.
class WorkerPool final {
public:
    // Both limits at least one. The queue is not owned.
    WorkerPool(IAgentAPI& agent, MsgFifoQueue& queue, std::size_t threadLimit,
               std::size_t idleLimit, std::uint32_t idleTimeoutMs);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    // Stops first, as Stop.
    ~WorkerPool();

    // Called once for each message pushed on the queue, by the one thread that queues them.
    // False when no thread can be started and none runs: the message is the caller's to
    // handle.
    bool Offer();
    // Called once the queue gets no more messages: returns when every queued message has
    // been handled and every thread has ended.
    void Stop();

private:
    class PooledThread;

    // On a pooled thread: handles queued messages until it is let go.
    void Serve(PooledThread& thread);
    // On a pooled thread that found the queue empty: true when a message came within a short
    // look, false when the thread is to park (it is still counted as looking; Park lets go).
    bool LookAround();
    // On a pooled thread that found the queue empty: true when there may be a message for it
    // now, false when it is to end.
    bool Park(PooledThread& thread);
    // With the lock held: joins and deletes the threads that have left Serve.
    void JoinRetired();

    IAgentAPI& agent_;
    MsgFifoQueue& queue_;
    const std::size_t threadLimit_;
    const std::size_t idleLimit_;
    const std::chrono::milliseconds idleTimeout_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<std::unique_ptr<PooledThread>> threads_;
    std::vector<PooledThread*> retired_;
    // Threads waiting on wake_, and the wake-ups given to them that none has taken yet: a
    // thread is woken for a message only while parked_ is above wakes_.
    std::size_t parked_ = 0;
    std::size_t wakes_ = 0;
    // Threads between messages that look at the queue before they park: each takes a message
    // queued meanwhile without being woken.
    std::atomic<std::size_t> looking_{0};
    bool stopping_ = false;
};
