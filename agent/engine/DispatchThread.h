#pragma once

#include <cstddef>
#include <cstdint>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

#include "agent/engine/QueueThread.h"

class WorkerPool;

// Takes the messages from the agent's input queue and hands each to a worker (MsgThread) on a
// thread of its own, in the order they arrived; the workers run side by side and may finish
// in any order. The threads come from a pool (WorkerPool): a thread that has finished a worker
// deletes it, which releases its message, and waits for the next one, so that a thread is
// created only when none is free.
//
// Nothing is dropped and the number of threads stays bounded: at most the worker limit of
// workers and of worker threads exist at once, at most the idle limit of threads wait for
// work, and the dispatch thread waits for a thread to be free before it starts the next.
// A message for which no thread can be started is handled on the dispatch thread itself,
// which also holds up the input until the system has threads again.
//
// The owner sets the queue and the agent before Start, and stops the thread with Signal once
// the input has stopped: the thread handles what is still queued, waits until every worker
// has been deleted, ends the idle threads and returns from Run.
class CDispatch final : public CQueueThread {
public:
    static constexpr std::size_t kDefaultWorkerLimit = 1024;
    static constexpr std::size_t kDefaultIdleLimit = 64;
    static constexpr std::uint32_t kDefaultIdleTimeoutMs = 1000;

    // The agent whose InvokeHandler the workers call and through which everything is logged.
    void SetAgent(IAgentAPI* agent) { agent_ = agent; }
    // At least one.
    void SetWorkerLimit(std::size_t limit) { workerLimit_ = limit; }
    // At least one: how many finished worker threads wait for the next message.
    void SetIdleLimit(std::size_t limit) { idleLimit_ = limit; }
    // How long a finished worker thread waits for the next message before it ends.
    void SetIdleTimeout(std::uint32_t milliseconds) { idleTimeoutMs_ = milliseconds; }

    std::uint32_t Run(std::uint32_t argument) override;

private:
    void Dispatch(WorkerPool& pool, msg::IQXMessage* message);

    IAgentAPI* agent_ = nullptr;
    std::size_t workerLimit_ = kDefaultWorkerLimit;
    std::size_t idleLimit_ = kDefaultIdleLimit;
    std::uint32_t idleTimeoutMs_ = kDefaultIdleTimeoutMs;
};
