#include "common/ipc/WinSockManager.h"

#include <mutex>
#include <winsock2.h>

#include "common/lang/CriticalSection.h"

namespace {

lang::CriticalSection startupLock;

}  // namespace

WinSockManager& WinSockManager::Instance() {
    static WinSockManager manager;
    return manager;
}

// A failed start-up is not reported here: every socket call then fails with
// WSANOTINITIALISED (10093), which its caller reports.
WinSockManager::WinSockManager() {
    std::lock_guard lock(startupLock);
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
}

// Runs at exit, after every object that made a socket after the first start-up has gone.
WinSockManager::~WinSockManager() {
    ::WSACleanup();
}
