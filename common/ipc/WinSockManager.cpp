#include "common/ipc/WinSockManager.h"

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
    StartSocketLayer();
}

// Runs at exit, after every object that made a socket after the first start-up has gone.
WinSockManager::~WinSockManager() {
    StopSocketLayer();
}
