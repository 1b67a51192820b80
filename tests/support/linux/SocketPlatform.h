#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>

// What the test's sockets (tests/support/TestSockets.cpp) need beyond the calls that both
// systems share.
namespace testsupport::sockets {

inline constexpr int kNoSignal = MSG_NOSIGNAL;
inline constexpr int kShutSending = SHUT_WR;

inline void Start() {}
inline int Poll(pollfd& entry, int waitMs) {
    return ::poll(&entry, 1, waitMs);
}
inline void CloseSocket(int socket) {
    ::close(socket);
}
// Non-blocking, and closed in the programs a test starts.
inline void Prepare(int socket) {
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
    ::fcntl(socket, F_SETFD, FD_CLOEXEC);
}
inline bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
inline std::string LastError() {
    return std::strerror(errno);
}

}  // namespace testsupport::sockets
