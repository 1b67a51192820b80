#include "agent/engine/GCThread.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "GCThread";

constexpr std::chrono::microseconds kSweepPause{200};

}  // namespace

// A thread object can be started once only, while the collector starts again each time work
// arrives after it has ended: every start gets a thread object of its own.
class GCThread::CollectorThread final : public lang::IAThread {
public:
    explicit CollectorThread(GCThread& owner) : owner_(owner) {}
    std::uint32_t Run(std::uint32_t argument) override { return owner_.Run(argument); }

private:
    GCThread& owner_;
};

GCThread::GCThread(IAgentAPI& agent, std::size_t workerLimit)
    : agent_(agent), workerLimit_(std::max<std::size_t>(workerLimit, 1)) {}

GCThread::~GCThread() {
    WaitForEnd();
}

void GCThread::WaitForRoom() {
    std::unique_lock lock(heapLock_);
    roomFreed_.wait(lock, [this] { return heap_.size() < workerLimit_; });
}

void GCThread::Add(std::unique_ptr<MsgThread> worker) {
    {
        std::lock_guard lock(heapLock_);
        WARDEX_LOG(agent_, LogLevel::Debug, "- Adding object to the garbage heap");
        // A worker that has finished before it got here set the signal too early for the
        // collector to find it, so it is set again; one still busy sets it itself when done.
        if (worker->HasFinished()) {
            changed_.Set();
        }
        heap_.push_back(std::move(worker));
        WARDEX_LOG(agent_, LogLevel::Debug, "- Testing of GC Thread is already running");
        if (running_.IsSet()) {
            WARDEX_LOG(agent_, LogLevel::Debug, "- GC Thread is running as %u",
                       collector_->GetThreadId());
            return;
        }
        WARDEX_LOG(agent_, LogLevel::Debug, "- Not Running, starting GC Thread");
        if (StartCollector()) {
            return;
        }
    }
    WARDEX_LOG(agent_, LogLevel::Error,
               "- GC Thread could not be started, collecting on this thread");
    Run(0);
}

void GCThread::WaitForEnd() {
    if (collector_) {
        collector_->WaitForEnd(lang::kInfinite);
    }
}

bool GCThread::StartCollector() {
    // The previous collector has decided to end; only its return is left to wait for.
    WaitForEnd();
    collector_.reset();
    auto collector = std::make_unique<CollectorThread>(*this);
    if (!collector->Start()) {
        return false;
    }
    collector_ = std::move(collector);
    WARDEX_LOG(agent_, LogLevel::Debug, "- Waiting for GC to signal we are running");
    running_.Wait(lang::kInfinite);
    WARDEX_LOG(agent_, LogLevel::Debug, "- GC Is now running on thread ID %u",
               collector_->GetThreadId());
    return true;
}

std::uint32_t GCThread::Run(std::uint32_t) {
    WARDEX_LOG(agent_, LogLevel::Information, "- Begin Garbage Collector Thread");
    running_.Set();
    while (const std::size_t remaining = SweepOrStop()) {
        WARDEX_LOG(agent_, LogLevel::Debug, "- Waiting for one of %u objects to finish",
                   static_cast<unsigned>(remaining));
        changed_.Wait(lang::kInfinite);
        WARDEX_LOG(agent_, LogLevel::Debug, "- GC Notified of an object to check");
        // The workers that end during the pause are deleted by the same sweep: a stream of
        // short messages wakes the collector once a pause rather than once a message.
        std::this_thread::sleep_for(kSweepPause);
    }
    WARDEX_LOG(agent_, LogLevel::Information, "- End Garbage Collector Thread\n\n");
    return 0;
}

std::size_t GCThread::SweepOrStop() {
    std::lock_guard lock(heapLock_);
    if (!heap_.empty()) {
        WARDEX_LOG(agent_, LogLevel::Debug, "- Garbage Heap is not empty, Removing dead objects");
        if (std::erase_if(heap_, [this](const auto& worker) { return IsDone(*worker); }) > 0) {
            roomFreed_.notify_all();
        }
    }
    if (heap_.empty()) {
        running_.Reset();
    }
    return heap_.size();
}

bool GCThread::IsDone(MsgThread& worker) {
    const auto id = static_cast<int>(worker.GetThreadId());
    WARDEX_LOG(agent_, LogLevel::Debug, "- Garbage Collector checking status of Thread %d", id);
    if (!worker.HasFinished()) {
        WARDEX_LOG(agent_, LogLevel::Debug, "- Garbage Collector - Thread %d is still busy", id);
        return false;
    }
    WARDEX_LOG(agent_, LogLevel::Debug, "- Garbage Collector - Thread %d has completed", id);
    return true;
}
