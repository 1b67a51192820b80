#include "common/sys/ThreadCrashStack.h"

#include <windows.h>

namespace sys {

namespace {

// Enough for the exception filter to hand the crash to a thread that writes the dump.
constexpr ULONG kGuaranteedBytes = 64 * 1024;

}  // namespace

// The system keeps the room below the thread's stack guard itself; nothing is held here.
struct ThreadCrashStack::Room {};

ThreadCrashStack::ThreadCrashStack() {
    ULONG bytes = kGuaranteedBytes;
    ::SetThreadStackGuarantee(&bytes);
}

// The guarantee cannot be taken back, and stays with the thread for its life.
ThreadCrashStack::~ThreadCrashStack() = default;

}  // namespace sys
