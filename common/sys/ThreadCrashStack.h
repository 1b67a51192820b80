#pragma once

#include <memory>

#include "common/lang/IAThreads.h"

namespace sys {

// Keeps room on the calling thread, while the object lives, for the crash handler to run
// when a crash has exhausted the thread's own stack (a runaway recursion), so that such a
// crash still gets its dump. Made and destroyed on the same thread.
class ThreadCrashStack final : public lang::IThreadCompanion {
public:
    ThreadCrashStack();
    ~ThreadCrashStack() override;
    ThreadCrashStack(const ThreadCrashStack&) = delete;
    ThreadCrashStack& operator=(const ThreadCrashStack&) = delete;

private:
    struct Room;
    std::unique_ptr<Room> room_;
};

// Whether every lang::IAThread started from now on keeps a ThreadCrashStack while it runs:
// the crash handler turns it on as it is installed and off as it is removed.
void KeepCrashStacksOnNewThreads(bool keep);

}  // namespace sys
