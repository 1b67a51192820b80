#include "common/sys/ThreadCrashStack.h"

#include "common/sys/linux/AltSignalStack.h"

namespace sys {

// The crash signals are handled on an alternate signal stack.
struct ThreadCrashStack::Room {
    AltSignalStack stack;
};

ThreadCrashStack::ThreadCrashStack() : room_(std::make_unique<Room>()) {}

ThreadCrashStack::~ThreadCrashStack() = default;

}  // namespace sys
