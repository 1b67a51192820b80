#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/ipc/WinSockManager.h"

// What the test's sockets (tests/support/TestSockets.cpp, which alone includes this) need
// beyond the calls that both systems share. Socket handles travel as int: Windows keeps them
// within 32 bits.
namespace testsupport::sockets {

inline constexpr int kNoSignal = 0;
inline constexpr int kShutSending = SD_SEND;

// The test's side starts Winsock for itself, whatever the code under test does.
inline void Start() {
    WinSockManager::Instance();
}
inline int Poll(pollfd& entry, int waitMs) {
    return ::WSAPoll(&entry, 1, waitMs);
}
void CloseSocket(int socket) noexcept {
    ::closesocket(static_cast<SOCKET>(socket));
}
inline void Prepare(int socket) {
    u_long on = 1;
    ::ioctlsocket(static_cast<SOCKET>(socket), FIONBIO, &on);
}

}  // namespace testsupport::sockets
