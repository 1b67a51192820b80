#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <sys/types.h>

#include "common/sys/linux/MinidumpFormat.h"

namespace sys {

struct ThreadRegisters {
    std::uint32_t threadId = 0;
    minidump::ContextAmd64 context{};
};

// Holds the process's other threads still while a crash is written down, and tells their
// registers. A thread cannot read another thread's registers, so a helper process (a plain
// copy of this one, made without running any fork handlers) attaches to each of them as a
// debugger would, sends their registers back over a pipe and keeps them stopped until
// Release(). Where the system does not allow that (another debugger is attached, tracing is
// forbidden), the threads that could not be had are left out. The memory is reserved when the
// object is made; Stop() and Release() make only async-signal-safe calls.
class StoppedThreads {
public:
    explicit StoppedThreads(std::size_t capacity);
    StoppedThreads(const StoppedThreads&) = delete;
    StoppedThreads& operator=(const StoppedThreads&) = delete;
    ~StoppedThreads() { Release(); }

    // Stops every thread but crashingThread, waiting at most a few seconds for the helper.
    void Stop(std::uint32_t crashingThread) noexcept;
    std::span<const ThreadRegisters> Threads() const noexcept { return {threads_.get(), count_}; }
    // Lets the threads go on and ends the helper.
    void Release() noexcept;

private:
    void Collect(int fromHelper) noexcept;

    std::unique_ptr<ThreadRegisters[]> threads_;
    std::size_t capacity_;
    std::size_t count_ = 0;
    pid_t helper_ = -1;
    int toHelper_ = -1;
};

}  // namespace sys
