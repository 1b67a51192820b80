#pragma once

#include <memory>

namespace sys {

// Keeps room on the calling thread, while the object lives, for the crash handler to run
// when a crash has exhausted the thread's own stack (a runaway recursion), so that such a
// crash still gets its dump. Made and destroyed on the same thread.
class ThreadCrashStack {
public:
    ThreadCrashStack();
    ~ThreadCrashStack();
    ThreadCrashStack(const ThreadCrashStack&) = delete;
    ThreadCrashStack& operator=(const ThreadCrashStack&) = delete;

private:
    struct Room;
    std::unique_ptr<Room> room_;
};

}  // namespace sys
