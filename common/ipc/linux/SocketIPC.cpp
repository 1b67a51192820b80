#include "common/ipc/SocketIPC.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <sys/socket.h>

#include "common/err/Errors.h"
#include "common/ipc/Deadline.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/WinSockManager.h"
#include "common/ipc/linux/Socket.h"
#include "common/ipc/linux/SocketError.h"

namespace ipc {
namespace {

constexpr const char* kSource = "SocketIPC";

// The poll time-out for what is left until the deadline: -1 waits for ever.
int PollTimeout(const Deadline& deadline) {
    return deadline.IsForever() ? -1
                                : static_cast<int>(std::min<unsigned>(deadline.LeftMs(), INT_MAX));
}

int ClampToInt(unsigned length) {
    return static_cast<int>(std::min<unsigned>(length, INT_MAX));
}

[[noreturn]] void RaiseTimeOut() {
    throw CIPCError(kSource, "CSocketIPC::Read Timed Out", 254, 1, kWsaTimedOut);
}

}  // namespace

CSocketIPC::CSocketIPC() : socket_(std::make_unique<Socket>()) {
    WinSockManager::Instance();
}

CSocketIPC::~CSocketIPC() = default;

bool CSocketIPC::IsReadyWithin(WaitMode mode, const Deadline& deadline) const {
    if (!*socket_) {
        throw CIPCError(kSource, "CSocketIPC::Read/Select Socket Error", 252, 0, kWsaNotSocket);
    }
    pollfd entry{socket_->Get(), static_cast<short>(mode == WaitMode::Read ? POLLIN : POLLOUT), 0};
    for (;;) {
        const int timeout = PollTimeout(deadline);
        const int ready = ::poll(&entry, 1, timeout);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            throw CIPCError(kSource, "CSocketIPC::Read/Select Socket Error", 252, 0,
                            LastSocketError());
        }
        if (ready == 0 && timeout == 0) {
            return false;
        }
    }
}

int CSocketIPC::Read(void* buffer, unsigned length, unsigned timeoutMs) {
    std::lock_guard lock(readLock_);
    if (!IsReadyWithin(WaitMode::Read, Deadline(timeoutMs))) {
        RaiseTimeOut();
    }
    ssize_t received;
    do {
        received = ::recv(socket_->Get(), buffer, static_cast<std::size_t>(ClampToInt(length)), 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        throw CIPCError(kSource, "CSocketIPC::Read Socket Error", 290, 0, LastSocketError());
    }
    if (received > 0) {
        return static_cast<int>(received);
    }
    // The stream has ended. An error the socket still holds tells a reset from an orderly
    // close, which leaves 0.
    int pending = 0;
    socklen_t size = sizeof pending;
    ::getsockopt(socket_->Get(), SOL_SOCKET, SO_ERROR, &pending, &size);
    const std::uint32_t code = WinsockErrorFromErrno(pending);
    if (IsConnectionLost(code)) {
        throw CIPCError(kSource, "CSocketIPC::Read Socket returnd 0 bytes ", 306, 0, code);
    }
    throw CIPCError(kSource, "CSocketIPC::Read Socket unknown error", 310, 0, code);
}

int CSocketIPC::Write(const void* buffer, unsigned length, unsigned timeoutMs) {
    std::lock_guard lock(writeLock_);
    const auto* bytes = static_cast<const char*>(buffer);
    const auto total = static_cast<std::size_t>(ClampToInt(length));
    const Deadline deadline(timeoutMs);
    std::size_t sent = 0;
    while (sent < total) {
        if (!IsReadyWithin(WaitMode::Write, deadline)) {
            if (sent == 0) {
                RaiseTimeOut();
            }
            break;
        }
        // Never blocks: the wait alone decides how long a full buffer may hold the write up.
        const ssize_t count = ::send(socket_->Get(), bytes + sent, total - sent, MSG_DONTWAIT);
        if (count < 0 && errno != EINTR && errno != EAGAIN) {
            throw CIPCError(kSource, "CSocketIPC::Write Socket Error", 348, 0, LastSocketError());
        }
        sent += static_cast<std::size_t>(std::max<ssize_t>(count, 0));
    }
    return static_cast<int>(sent);
}

void CSocketIPC::SetCloseOptions() const {
    const linger lingerOption{1, 5};
    ::setsockopt(socket_->Get(), SOL_SOCKET, SO_LINGER, &lingerOption, sizeof lingerOption);
    const int reuse = 1;
    ::setsockopt(socket_->Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
}

int CSocketIPC::Disconnect() {
    std::lock_guard lock(disconnectLock_);
    if (!*socket_) {
        return 0;
    }
    SetCloseOptions();
    if (IsConnected()) {
        ::shutdown(socket_->Get(), SHUT_WR);
        connected_ = false;
    }
    return 0;
}

void CSocketIPC::CancelBlockingCall() {
    std::lock_guard lock(cancelLock_);
    cancelled_ = true;
    if (*socket_) {
        SetCloseOptions();
        ::shutdown(socket_->Get(), SHUT_RDWR);
    }
}

}  // namespace ipc
