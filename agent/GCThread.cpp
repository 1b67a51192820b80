#include "agent/GCThread.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

namespace {

constexpr const char* kSource = "GCThread";

constexpr int kError = 0;
constexpr int kInformation = 1;
constexpr int kDebug = 2;

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
        agent_.Log(kDebug, "%s:%d - Adding object to the garbage heap", kSource, __LINE__);
        // A worker that has finished before it got here set the signal too early for the
        // collector to find it, so it is set again; one still busy sets it itself when done.
        if (worker->HasFinished()) {
            changed_.Set();
        }
        heap_.push_back(std::move(worker));
        agent_.Log(kDebug, "%s:%d - Testing of GC Thread is already running", kSource, __LINE__);
        if (running_.IsSet()) {
            agent_.Log(kDebug, "%s:%d - GC Thread is running as %u", kSource, __LINE__,
                       collector_->GetThreadId());
            return;
        }
        agent_.Log(kDebug, "%s:%d - Not Running, starting GC Thread", kSource, __LINE__);
        if (StartCollector()) {
            return;
        }
    }
    agent_.Log(kError, "%s:%d - GC Thread could not be started, collecting on this thread", kSource,
               __LINE__);
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
    agent_.Log(kDebug, "%s:%d - Waiting for GC to signal we are running", kSource, __LINE__);
    running_.Wait(lang::kInfinite);
    agent_.Log(kDebug, "%s:%d - GC Is now running on thread ID %u", kSource, __LINE__,
               collector_->GetThreadId());
    return true;
}

std::uint32_t GCThread::Run(std::uint32_t) {
    agent_.Log(kInformation, "%s:%d - Begin Garbage Collector Thread", kSource, __LINE__);
    running_.Set();
    while (const std::size_t remaining = SweepOrStop()) {
        agent_.Log(kDebug, "%s:%d - Waiting for one of %u objects to finish", kSource, __LINE__,
                   static_cast<unsigned>(remaining));
        changed_.Wait(lang::kInfinite);
        agent_.Log(kDebug, "%s:%d - GC Notified of an object to check", kSource, __LINE__);
        // The workers that end during the pause are deleted by the same sweep: a stream of
        // short messages wakes the collector once a pause rather than once a message.
        std::this_thread::sleep_for(kSweepPause);
    }
    agent_.Log(kInformation, "%s:%d - End Garbage Collector Thread\n\n", kSource, __LINE__);
    return 0;
}

std::size_t GCThread::SweepOrStop() {
    std::lock_guard lock(heapLock_);
    if (!heap_.empty()) {
        agent_.Log(kDebug, "%s:%d - Garbage Heap is not empty, Removing dead objects", kSource,
                   __LINE__);
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
    agent_.Log(kDebug, "%s:%d - Garbage Collector checking status of Thread %d", kSource, __LINE__,
               id);
    if (!worker.HasFinished()) {
        agent_.Log(kDebug, "%s:%d - Garbage Collector - Thread %d is still busy", kSource, __LINE__,
                   id);
        return false;
    }
    agent_.Log(kDebug, "%s:%d - Garbage Collector - Thread %d has completed", kSource, __LINE__,
               id);
    return true;
}
