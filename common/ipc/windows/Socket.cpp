#include "common/ipc/windows/Socket.h"

#include <ws2tcpip.h>

#include "common/err/Errors.h"
#include "common/ipc/SocketError.h"

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

}  // namespace

void CSocketIPC::Socket::Open(SOCKET stream) {
    Reset(stream);
    wakeUp_ = NewWakeUpSocket();
}

void CSocketIPC::Socket::Wake() {
    woken_ = true;
    if (wakeUp_) {
        const char byte = 0;
        ::send(wakeUp_.Get(), &byte, 1, 0);
    }
}

CSocketIPC::Socket::Outcome CSocketIPC::Socket::Wait(Condition condition,
                                                     const Deadline& deadline) const {
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Get(), condition == Condition::Readable ? &readable : &writable);
    if (condition == Condition::Connected) {
        FD_SET(Get(), &failed);
    }
    if (wakeUp_) {
        FD_SET(wakeUp_.Get(), &readable);
    }
    // Winsock ignores the first argument and refuses a set without sockets.
    const auto inUse = [](fd_set& set) { return set.fd_count > 0 ? &set : nullptr; };
    timeval timeout = SelectTimeout(deadline);
    const int ready = ::select(0, inUse(readable), inUse(writable), inUse(failed),
                               deadline.IsForever() ? nullptr : &timeout);
    if (ready == SOCKET_ERROR) {
        throw CIPCError("SocketIPC", "CSocketIPC::Read/Select Socket Error", 252, 0,
                        LastSocketError());
    }
    if (ready == 0) {
        return Outcome::TimedOut;
    }
    if (wakeUp_ && FD_ISSET(wakeUp_.Get(), &readable)) {
        return Outcome::WokenUp;
    }
    return FD_ISSET(Get(), &failed) ? Outcome::Failed : Outcome::Ready;
}

}  // namespace ipc
