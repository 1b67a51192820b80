#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include <corvane/IAgentAPI.h>

#include "agent/engine/MsgThread.h"
#include "common/lang/CriticalSection.h"
#include "common/lang/Event.h"
#include "common/lang/IAThreads.h"

// The garbage collector of the message workers: it deletes each worker once the worker has
// finished, which releases the worker's message, in the order the workers finish.
//
// The collector runs on a thread of its own only while there are workers on its heap: Add
// starts it, and it ends when a sweep leaves the heap empty. The collector makes that
// decision under the heap lock, and Add looks at the running state under the same lock, so a
// worker is never handed to a collector that is about to end.
//
// Each worker sets the collector's end signal when it is done, so the collector waits on one
// event however many workers there are. After each wake-up the collector pauses a moment
// before it sweeps, so that the workers that end close together cost one wake-up: a finished
// worker waits at most that moment longer to be deleted.
class GCThread final {
public:
    // At most workerLimit workers (at least one) are on the heap at once; see WaitForRoom.
    GCThread(IAgentAPI& agent, std::size_t workerLimit);
    GCThread(const GCThread&) = delete;
    GCThread& operator=(const GCThread&) = delete;
    // Waits for the collector's end first, as WaitForEnd.
    ~GCThread();

    // The event the workers handed to this collector set when they are done.
    lang::CEvent& WorkerEndSignal() { return changed_; }
    // Blocks while the heap holds workerLimit workers, until the collector deletes one.
    void WaitForRoom();
    // Puts a started worker on the heap and makes sure the collector runs. If no collector
    // thread can be started, collects on the calling thread until the heap is empty.
    void Add(std::unique_ptr<MsgThread> worker);
    // Returns once the collector has ended, which it does only when every worker added
    // before has been deleted.
    void WaitForEnd();

private:
    class CollectorThread;

    // The collector: sweeps and waits until a sweep leaves the heap empty.
    std::uint32_t Run(std::uint32_t argument);
    // With the heap lock held: a new collector thread, running once this returns.
    bool StartCollector();
    // Deletes the finished workers and returns how many remain; at none the collector has
    // decided to end.
    std::size_t SweepOrStop();
    // With the heap lock held: whether the worker has finished and may be deleted.
    bool IsDone(MsgThread& worker);

    IAgentAPI& agent_;
    const std::size_t workerLimit_;
    std::deque<std::unique_ptr<MsgThread>> heap_;
    lang::CriticalSection heapLock_;
    std::condition_variable_any roomFreed_;
    // Set when a worker is added or one is done: the collector then sweeps again.
    lang::CEvent changed_{lang::EventReset::Auto};
    // Set while the collector runs; cleared under the heap lock when it decides to end.
    lang::CEvent running_{lang::EventReset::Manual};
    // Touched only by the thread that adds workers.
    std::unique_ptr<lang::IAThread> collector_;
};
