#pragma once

#include <string>
#include <winsock2.h>
#include <ws2tcpip.h>

// What the test's sockets (tests/support/TestSockets.cpp) need beyond the calls that both
// systems share. Socket handles travel as int: Windows keeps them within 32 bits.
namespace testsupport::sockets {

inline constexpr int kNoSignal = 0;
inline constexpr int kShutSending = SD_SEND;

// The test's side starts Winsock for itself, whatever the code under test does.
inline void Start() {
    static const struct Winsock {
        Winsock() {
            WSADATA data;
            ::WSAStartup(MAKEWORD(2, 2), &data);
        }
        ~Winsock() { ::WSACleanup(); }
    } winsock;
}
inline int Poll(pollfd& entry, int waitMs) {
    return ::WSAPoll(&entry, 1, waitMs);
}
inline void CloseSocket(int socket) {
    ::closesocket(static_cast<SOCKET>(socket));
}
inline void Prepare(int socket) {
    u_long on = 1;
    ::ioctlsocket(static_cast<SOCKET>(socket), FIONBIO, &on);
}
inline bool WouldBlock() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
inline std::string LastError() {
    return "Windows Sockets error " + std::to_string(::WSAGetLastError());
}

}  // namespace testsupport::sockets
