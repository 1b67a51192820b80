#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "common/lang/Event.h"

namespace lang {

// What a layer above this one keeps on every thread of the agent while its Run runs: made on
// the new thread before Run and destroyed there after it. The crash handler keeps room for
// itself on each thread this way, so that threads need no crash-handling code of their own.
class IThreadCompanion {
public:
    virtual ~IThreadCompanion() = default;
};
using ThreadCompanionMaker = std::unique_ptr<IThreadCompanion> (*)();

// A thread whose work is its Run. The thread ends by returning from Run; nothing stops it
// from outside. The owner waits for the end (WaitForEnd) before it destroys the object,
// since Run belongs to the derived part that is gone by the time this destructor runs.
class IAThread {
public:
    IAThread() = default;
    IAThread(const IAThread&) = delete;
    IAThread& operator=(const IAThread&) = delete;
    // Joins the ended thread.
    virtual ~IAThread();

    virtual std::uint32_t Run(std::uint32_t argument) = 0;

    // Starts the thread running Run(argument); false when no thread could be created or
    // this object has already been started.
    bool Start(std::uint32_t argument = 0);
    // True once Run has returned; waits up to the time-out in milliseconds for it.
    bool WaitForEnd(std::uint32_t timeoutMs = kInfinite);

    // The system's id of the thread, written by the thread itself as its first step: 0
    // until then.
    std::uint32_t GetThreadId() const { return threadId_.load(); }
    std::uint32_t GetExitCode() const { return exitCode_.load(); }

    // Every thread started from now on keeps what `maker` makes; nullptr for nothing. One
    // maker a process: the last one set holds.
    static void SetCompanionMaker(ThreadCompanionMaker maker);

private:
    void Routine();

    std::thread thread_;
    std::atomic<std::uint32_t> threadId_{0};
    std::atomic<std::uint32_t> exitCode_{0};
    std::uint32_t argument_ = 0;
    CEvent ended_{EventReset::Manual};
};

}  // namespace lang
