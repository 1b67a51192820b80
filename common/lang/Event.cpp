#include "common/lang/Event.h"

#include <chrono>

namespace lang {

CEvent::CEvent(EventReset reset, bool signalled) : reset_(reset), signalled_(signalled) {}

void CEvent::Set() {
    // Signalled already: no waiter waits for it, and an auto-reset event does not count.
    if (signalled_.load(std::memory_order_acquire)) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    if (reset_ == EventReset::Auto) {
        changed_.notify_one();
    } else {
        changed_.notify_all();
    }
}

void CEvent::Reset() {
    if (!signalled_.load(std::memory_order_acquire)) {
        return;
    }
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool CEvent::Wait(std::uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto isSignalled = [this] { return signalled_.load(std::memory_order_relaxed); };
    if (timeoutMs == kInfinite) {
        changed_.wait(lock, isSignalled);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignalled)) {
        return false;
    }
    if (reset_ == EventReset::Auto) {
        signalled_ = false;
    }
    return true;
}

bool CEvent::IsSet() const {
    return signalled_.load(std::memory_order_acquire);
}

}  // namespace lang
