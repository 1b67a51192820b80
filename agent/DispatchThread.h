#pragma once

#include <cstddef>
#include <cstdint>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

#include "agent/QueueThread.h"

class GCThread;

// Takes the messages from the agent's input queue and hands each to a worker thread of its
// own (MsgThread), in the order they arrived; the workers run side by side and may finish in
// any order. A collector (GCThread) deletes the finished workers.
//
// Nothing is dropped and the number of threads stays bounded: at most the worker limit of
// workers exist at once, and the dispatch thread waits for one to be deleted before it starts
// the next. A message whose thread cannot be started is handled on the dispatch thread
// itself, which also holds up the input until the system has threads again.
//
// The owner sets the queue and the agent before Start, and stops the thread with Signal once
// the input has stopped: the thread handles what is still queued, waits until every worker
// has been deleted, and returns from Run.
class CDispatch final : public CQueueThread {
public:
    static constexpr std::size_t kDefaultWorkerLimit = 1024;

    // The agent whose InvokeHandler the workers call and through which everything is logged.
    void SetAgent(IAgentAPI* agent) { agent_ = agent; }
    // At least one.
    void SetWorkerLimit(std::size_t limit) { workerLimit_ = limit; }

    std::uint32_t Run(std::uint32_t argument) override;

private:
    void Dispatch(GCThread& collector, msg::IQXMessage* message);

    IAgentAPI* agent_ = nullptr;
    std::size_t workerLimit_ = kDefaultWorkerLimit;
};
