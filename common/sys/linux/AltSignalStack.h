#pragma once

#include <cstddef>
#include <memory>

namespace sys {

// Gives the calling thread an alternate signal stack while the object lives, so that a
// crash signal on a thread whose own stack is exhausted (a runaway recursion) can still be
// handled: the crash handler's actions run on it. A thread that has one of at least the
// size already keeps it. Made and destroyed on the same thread; the pages are touched only
// when a signal runs on them.
class AltSignalStack {
public:
    AltSignalStack();
    ~AltSignalStack();
    AltSignalStack(const AltSignalStack&) = delete;
    AltSignalStack& operator=(const AltSignalStack&) = delete;

    // False when the system refused the stack: the thread has none of the size.
    bool IsSet() const { return set_; }

private:
    // The thread's stack before, put back on destruction when this one replaced it.
    struct Previous {
        void* base = nullptr;
        std::size_t size = 0;
        int flags = 0;
    };

    std::unique_ptr<char[]> stack_;
    Previous previous_;
    bool set_ = false;
};

}  // namespace sys
