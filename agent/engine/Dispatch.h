#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <corvane/IAgentAPI.h>

#include "agent/queue/MsgFifoQueue.h"

class WorkerPool;

// Hands each message of the agent's input queue to a worker (MsgThread) on a thread of its
// own, in the order they arrived; the workers run side by side and may finish in any order.
// The input thread offers every message it queues (Offer), and a thread of the pool
// (WorkerPool) takes it: a thread parked after an earlier message, a thread that has just
// finished one, or a new thread. A worker's thread deletes the worker once it has run,
// which releases its message.
//
// Nothing is dropped and the number of threads stays bounded: at most the worker limit of
// workers and of worker threads exist at once, and at most the idle limit of threads wait
// for work. At the limit the messages wait in the input queue, whose own limit then holds up
// the input. A message for which no thread can be started while none runs is handled on the
// thread that offers it, which also holds up the input until the system has threads again.
//
// The owner sets the queue and the agent, then calls Start before the first Offer, and Stop
// once the input has stopped: Stop handles what is still queued, waits until every worker
// has been deleted and ends the threads.
class CDispatch final {
public:
    static constexpr std::size_t kDefaultWorkerLimit = 1024;
    static constexpr std::size_t kDefaultIdleLimit = 64;
    static constexpr std::uint32_t kDefaultIdleTimeoutMs = 1000;

    CDispatch();
    CDispatch(const CDispatch&) = delete;
    CDispatch& operator=(const CDispatch&) = delete;
    // Stops first, as Stop.
    ~CDispatch();

    // The queue the messages are taken from (not owned).
    void SetQueue(MsgFifoQueue* queue) { queue_ = queue; }
    // The agent whose InvokeHandler the workers call and through which everything is logged.
    void SetAgent(IAgentAPI* agent) { agent_ = agent; }
    // At least one.
    void SetWorkerLimit(std::size_t limit) { workerLimit_ = limit; }
    // At least one: how many finished worker threads wait for the next message.
    void SetIdleLimit(std::size_t limit) { idleLimit_ = limit; }
    // How long a finished worker thread waits for the next message before it ends.
    void SetIdleTimeout(std::uint32_t milliseconds) { idleTimeoutMs_ = milliseconds; }

    void Start();
    // Once for each message pushed on the queue, from the thread that pushed it.
    void Offer();
    void Stop();

private:
    IAgentAPI* agent_ = nullptr;
    MsgFifoQueue* queue_ = nullptr;
    std::size_t workerLimit_ = kDefaultWorkerLimit;
    std::size_t idleLimit_ = kDefaultIdleLimit;
    std::uint32_t idleTimeoutMs_ = kDefaultIdleTimeoutMs;
    std::unique_ptr<WorkerPool> pool_;
};
