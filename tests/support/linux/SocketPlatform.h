#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// What the test's sockets (tests/support/TestSockets.cpp, which alone includes this) need
// beyond the calls that both systems share.
namespace testsupport::sockets {

inline constexpr int kNoSignal = MSG_NOSIGNAL;
inline constexpr int kShutSending = SHUT_WR;

inline void Start() {}
inline int Poll(pollfd& entry, int waitMs) {
    return ::poll(&entry, 1, waitMs);
}
void CloseSocket(int socket) noexcept {
    ::close(socket);
}
// Non-blocking, and closed in the programs a test starts.
inline void Prepare(int socket) {
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
    ::fcntl(socket, F_SETFD, FD_CLOEXEC);
}

}  // namespace testsupport::sockets
