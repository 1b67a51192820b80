#include "common/ipc/Socket.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "common/ipc/linux/SocketError.h"
#include "common/sys/linux/FileDescriptor.h"

namespace ipc {
namespace {

// The poll time-out for what is left until the deadline: -1 waits for ever.
int PollTimeout(const Deadline& deadline) {
    return deadline.IsForever() ? -1
                                : static_cast<int>(std::min<unsigned>(deadline.LeftMs(), INT_MAX));
}

short PollEvents(SocketCondition condition) {
    return condition == SocketCondition::Readable ? POLLIN : POLLOUT;
}

// A call's count, or what its failure means for the transport.
int Moved(ssize_t count) {
    if (count >= 0) {
        return static_cast<int>(count);
    }
    return errno == EINTR || errno == EAGAIN ? kSocketTryAgain : kSocketFailed;
}

void SetBlocking(int socket, bool blocking) {
    const int flags = ::fcntl(socket, F_GETFL);
    ::fcntl(socket, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

}  // namespace

// One file descriptor. Reads and writes block, bounded by the poll before them; a cancel
// shuts the socket, which ends every poll.
struct CSocketIPC::Socket::Handles {
    sys::FileDescriptor socket;
};

CSocketIPC::Socket::Socket() : handles_(std::make_unique<Handles>()) {}

CSocketIPC::Socket::~Socket() = default;

CSocketIPC::Socket::operator bool() const {
    return handles_->socket.IsOpen();
}

int CSocketIPC::Socket::AsInt() const {
    return handles_->socket.Get();
}

bool CSocketIPC::Socket::Open() {
    handles_->socket.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return handles_->socket.IsOpen();
}

CSocketIPC::Socket::Outcome CSocketIPC::Socket::Wait(Condition condition,
                                                     const Deadline& deadline) const {
    pollfd entry{handles_->socket.Get(), PollEvents(condition), 0};
    for (;;) {
        const int timeout = PollTimeout(deadline);
        const int ready = ::poll(&entry, 1, timeout);
        if (ready > 0) {
            return Outcome::Ready;
        }
        if (ready < 0 && errno != EINTR) {
            return Outcome::Error;
        }
        if (ready == 0 && timeout == 0) {
            return Outcome::TimedOut;
        }
    }
}

int CSocketIPC::Socket::Receive(void* buffer, int length) {
    return Moved(::recv(handles_->socket.Get(), buffer, static_cast<std::size_t>(length), 0));
}

int CSocketIPC::Socket::Send(const void* bytes, int length) {
    return Moved(
        ::send(handles_->socket.Get(), bytes, static_cast<std::size_t>(length), MSG_DONTWAIT));
}

bool CSocketIPC::Socket::PendingError(std::uint32_t& code) const {
    int pending = 0;
    socklen_t size = sizeof pending;
    if (::getsockopt(handles_->socket.Get(), SOL_SOCKET, SO_ERROR, &pending, &size) != 0) {
        return false;
    }
    code = WinsockErrorFromErrno(pending);
    return true;
}

// The connect begins without blocking; FinishConnect makes the socket blocking again.
bool CSocketIPC::Socket::BeginConnect(std::uint32_t address, std::uint16_t port) {
    SetBlocking(handles_->socket.Get(), false);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = address;
    return ::connect(handles_->socket.Get(), reinterpret_cast<const sockaddr*>(&remote),
                     sizeof remote) == 0 ||
           errno == EINPROGRESS;
}

void CSocketIPC::Socket::FinishConnect() {
    SetBlocking(handles_->socket.Get(), true);
}

void CSocketIPC::Socket::SendWithoutDelay() {
    const int on = 1;
    ::setsockopt(handles_->socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void CSocketIPC::Socket::SetCloseOptions() {
    const linger lingerOption{1, 5};
    ::setsockopt(handles_->socket.Get(), SOL_SOCKET, SO_LINGER, &lingerOption, sizeof lingerOption);
    const int reuse = 1;
    ::setsockopt(handles_->socket.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
}

void CSocketIPC::Socket::ShutdownSend() {
    ::shutdown(handles_->socket.Get(), SHUT_WR);
}

void CSocketIPC::Socket::Cancel() {
    ::shutdown(handles_->socket.Get(), SHUT_RDWR);
}

std::uint32_t CSocketIPC::Socket::LocalAddress() const {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (*this) {
        ::getsockname(handles_->socket.Get(), reinterpret_cast<sockaddr*>(&local), &size);
    }
    return local.sin_addr.s_addr;
}

}  // namespace ipc
