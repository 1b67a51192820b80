#include "common/ipc/Socket.h"

#include <atomic>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/ipc/SocketError.h"
#include "common/ipc/windows/SocketHandle.h"

namespace ipc {
namespace {

// A datagram socket on the loopback interface connected to its own address: a byte sent to
// it makes it readable until it is read, which nothing does.
SocketHandle NewWakeUpSocket() {
    SocketHandle wakeUp(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (!wakeUp || ::bind(wakeUp.Get(), generic, size) != 0 ||
        ::getsockname(wakeUp.Get(), generic, &size) != 0 ||
        ::connect(wakeUp.Get(), generic, size) != 0) {
        return {};
    }
    return wakeUp;
}

// The select time-out for what is left until the deadline.
timeval SelectTimeout(const Deadline& deadline) {
    const unsigned left = deadline.LeftMs();
    return timeval{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
}

void SetBlocking(SOCKET socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
}

// A call's count, or what its failure means for the transport.
int Moved(int count) {
    if (count != SOCKET_ERROR) {
        return count;
    }
    return LastSocketError() == WSAEWOULDBLOCK ? kSocketTryAgain : kSocketFailed;
}

}  // namespace

// The stream socket, which never blocks: its waits bound every call. Winsock's shutdown does
// not end a select that another thread is blocked in, so a second socket wakes the waits: a
// cancel sends a byte to a datagram socket connected to itself, which every wait watches
// too; from then on every wait ends at once.
struct CSocketIPC::Socket::Handles {
    SocketHandle stream;
    SocketHandle wakeUp;
    std::atomic<bool> woken{false};
};

CSocketIPC::Socket::Socket() : handles_(std::make_unique<Handles>()) {}

// With a linger time set, a socket that does not block would refuse to close while bytes
// are still on their way and stay open, so it closes blocking.
CSocketIPC::Socket::~Socket() {
    if (*this) {
        SetBlocking(handles_->stream.Get(), true);
    }
}

CSocketIPC::Socket::operator bool() const {
    return handles_->stream.IsOpen();
}

// The interface gives sockets out as int; Windows keeps socket handles within 32 bits.
int CSocketIPC::Socket::AsInt() const {
    return static_cast<int>(handles_->stream.Get());
}

// The wake-up socket goes with it (best effort: a cancel without it still shuts the
// socket). Like every handle of the agent it is not inherited by programs the agent starts.
bool CSocketIPC::Socket::Open() {
    const SOCKET stream = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (stream == INVALID_SOCKET) {
        return false;
    }
    handles_->stream.Reset(stream);
    handles_->wakeUp = NewWakeUpSocket();
    SetBlocking(stream, false);
    return true;
}

CSocketIPC::Socket::Outcome CSocketIPC::Socket::Wait(Condition condition,
                                                     const Deadline& deadline) const {
    const SOCKET stream = handles_->stream.Get();
    const SocketHandle& wakeUp = handles_->wakeUp;
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(stream, condition == Condition::Readable ? &readable : &writable);
    if (condition == Condition::Connected) {
        FD_SET(stream, &failed);
    }
    if (wakeUp) {
        FD_SET(wakeUp.Get(), &readable);
    }
    // Winsock ignores the first argument and refuses a set without sockets.
    const auto inUse = [](fd_set& set) { return set.fd_count > 0 ? &set : nullptr; };
    timeval timeout = SelectTimeout(deadline);
    const int ready = ::select(0, inUse(readable), inUse(writable), inUse(failed),
                               deadline.IsForever() ? nullptr : &timeout);
    if (ready == SOCKET_ERROR) {
        return Outcome::Error;
    }
    if (ready == 0) {
        return Outcome::TimedOut;
    }
    if (wakeUp && FD_ISSET(wakeUp.Get(), &readable)) {
        return Outcome::WokenUp;
    }
    return FD_ISSET(stream, &failed) ? Outcome::Failed : Outcome::Ready;
}

// After a cancel the stream has ended for this side, whatever is still on its way.
int CSocketIPC::Socket::Receive(void* buffer, int length) {
    if (handles_->woken) {
        return 0;
    }
    return Moved(::recv(handles_->stream.Get(), static_cast<char*>(buffer), length, 0));
}

int CSocketIPC::Socket::Send(const void* bytes, int length) {
    if (handles_->woken) {
        ::WSASetLastError(WSAESHUTDOWN);
        return kSocketFailed;
    }
    return Moved(::send(handles_->stream.Get(), static_cast<const char*>(bytes), length, 0));
}

bool CSocketIPC::Socket::PendingError(std::uint32_t& code) const {
    int pending = 0;
    int size = sizeof pending;
    if (::getsockopt(handles_->stream.Get(), SOL_SOCKET, SO_ERROR,
                     reinterpret_cast<char*>(&pending), &size) != 0) {
        return false;
    }
    code = static_cast<std::uint32_t>(pending);
    return true;
}

bool CSocketIPC::Socket::BeginConnect(std::uint32_t address, std::uint16_t port) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = address;
    return ::connect(handles_->stream.Get(), reinterpret_cast<const sockaddr*>(&remote),
                     sizeof remote) == 0 ||
           LastSocketError() == WSAEWOULDBLOCK;
}

// The socket stays non-blocking.
void CSocketIPC::Socket::FinishConnect() {}

void CSocketIPC::Socket::SendWithoutDelay() {
    const BOOL on = TRUE;
    ::setsockopt(handles_->stream.Get(), IPPROTO_TCP, TCP_NODELAY,
                 reinterpret_cast<const char*>(&on), sizeof on);
}

void CSocketIPC::Socket::SetCloseOptions() {
    const linger lingerOption{1, 5};
    ::setsockopt(handles_->stream.Get(), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&lingerOption), sizeof lingerOption);
    const BOOL reuse = TRUE;
    ::setsockopt(handles_->stream.Get(), SOL_SOCKET, SO_REUSEADDR,
                 reinterpret_cast<const char*>(&reuse), sizeof reuse);
}

void CSocketIPC::Socket::ShutdownSend() {
    ::shutdown(handles_->stream.Get(), SD_SEND);
}

void CSocketIPC::Socket::Cancel() {
    ::shutdown(handles_->stream.Get(), SD_BOTH);
    handles_->woken = true;
    if (handles_->wakeUp) {
        const char byte = 0;
        ::send(handles_->wakeUp.Get(), &byte, 1, 0);
    }
}

std::uint32_t CSocketIPC::Socket::LocalAddress() const {
    sockaddr_in local{};
    int size = sizeof local;
    if (*this) {
        ::getsockname(handles_->stream.Get(), reinterpret_cast<sockaddr*>(&local), &size);
    }
    return local.sin_addr.s_addr;
}

}  // namespace ipc
