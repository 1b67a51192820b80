#include "common/ipc/WinSockManager.h"

#include <winsock2.h>

// A failed start-up is not reported here: every socket call then fails with
// WSANOTINITIALISED (10093), which its caller reports.
void WinSockManager::StartSocketLayer() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
}

void WinSockManager::StopSocketLayer() {
    ::WSACleanup();
}
