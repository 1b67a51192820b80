#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lang {

// A wait without a time limit.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

enum class EventReset {
    Auto,    // a successful wait consumes the signal: one waiter wakes per Set
    Manual,  // the event stays signalled until Reset: every waiter wakes
};

// A signal that threads wait on, with a time-out in milliseconds.
class CEvent {
public:
    explicit CEvent(EventReset reset, bool signalled = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within the time-out (kInfinite waits for ever).
    bool Wait(std::uint32_t timeoutMs);
    bool IsSet() const;

private:
    const EventReset reset_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Changed under the mutex only; read without it by Set and Reset, which leave an event
    // already in the state they ask for alone: a queue sets its event for every message while
    // it holds any, and each lock and notification would be met busy by the consumers.
    std::atomic<bool> signalled_;
};

}  // namespace lang
