#include "common/lang/IAThreads.h"

#include <system_error>

#include "common/err/Errors.h"
#include "common/lang/CurrentThread.h"

namespace lang {

namespace {

// The fixed line and value of the error a thread ends with when its Run lets out an
// exception of no kind of the family.
constexpr int kLineUnrecoverable = 70;
constexpr int kThreadUnrecoverable = -1;

std::atomic<ThreadCompanionMaker> companionMaker{nullptr};

}  // namespace

void IAThread::SetCompanionMaker(ThreadCompanionMaker maker) {
    companionMaker.store(maker);
}

IAThread::~IAThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool IAThread::Start(std::uint32_t argument) {
    if (thread_.joinable()) {
        return false;
    }
    argument_ = argument;
    try {
        thread_ = std::thread(&IAThread::Routine, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool IAThread::WaitForEnd(std::uint32_t timeoutMs) {
    return ended_.Wait(timeoutMs);
}

// An error of the family leaves the thread unchanged; anything else leaves it as a thread
// error. Either way the process's last resort, the crash handler, takes over.
void IAThread::Routine() {
    const ThreadCompanionMaker maker = companionMaker.load();
    const std::unique_ptr<IThreadCompanion> companion = maker != nullptr ? maker() : nullptr;
    threadId_ = CurrentThreadId();
    try {
        exitCode_ = Run(argument_);
    } catch (const err::CGeneralError&) {
        throw;
    } catch (...) {
        throw CThreadError("common\\lang\\IAThreads", "Unrecoverable Thread Error",
                           kLineUnrecoverable, kThreadUnrecoverable, err::LastSystemError());
    }
    ended_.Set();
}

}  // namespace lang
