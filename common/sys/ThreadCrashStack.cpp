#include "common/sys/ThreadCrashStack.h"

namespace sys {

namespace {

std::unique_ptr<lang::IThreadCompanion> MakeCrashStack() {
    return std::make_unique<ThreadCrashStack>();
}

}  // namespace

void KeepCrashStacksOnNewThreads(bool keep) {
    lang::IAThread::SetCompanionMaker(keep ? MakeCrashStack : nullptr);
}

}  // namespace sys
