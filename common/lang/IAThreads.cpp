#include "common/lang/IAThreads.h"

#include <system_error>

#include "common/err/Errors.h"
#include "common/sys/CurrentProcess.h"
#include "common/sys/ThreadCrashStack.h"

namespace lang {

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
    // A runaway recursion in a toolbox still gets its crash dump.
    const sys::ThreadCrashStack crashStack;
    threadId_ = sys::CurrentThreadId();
    try {
        exitCode_ = Run(argument_);
    } catch (const err::CGeneralError&) {
        throw;
    } catch (...) {
        throw CThreadError("common\\lang\\IAThreads", "Unrecoverable Thread Error", 70, -1,
                           err::LastSystemError());
    }
    ended_.Set();
}

}  // namespace lang
