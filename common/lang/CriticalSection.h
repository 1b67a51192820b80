#pragma once

#include <mutex>

namespace lang {

// A recursive lock: the holder may take it again (a queue's WaitAndPop holds it while its
// Pop takes it too). It also meets the standard lockable requirements, so std::lock_guard
// and std::unique_lock hold it for a scope.
class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    virtual ~CriticalSection() = default;

    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }

    void lock() { Enter(); }
    void unlock() { Leave(); }
    bool try_lock() { return mutex_.try_lock(); }

private:
    std::recursive_mutex mutex_;
};

}  // namespace lang
