#include "common/ipc/WinSockManager.h"

#include <signal.h>

// A handler the program installed itself is left alone.
void WinSockManager::StartSocketLayer() {
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        ::signal(SIGPIPE, SIG_IGN);
    }
}

void WinSockManager::StopSocketLayer() {}
