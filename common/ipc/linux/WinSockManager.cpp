#include "common/ipc/WinSockManager.h"

#include <signal.h>

#include <mutex>

#include "common/lang/CriticalSection.h"

namespace {

lang::CriticalSection startupLock;

}  // namespace

WinSockManager& WinSockManager::Instance() {
    static WinSockManager manager;
    return manager;
}

WinSockManager::WinSockManager() {
    std::lock_guard lock(startupLock);
    // A handler the program installed itself is left alone.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        ::signal(SIGPIPE, SIG_IGN);
    }
}

WinSockManager::~WinSockManager() = default;
