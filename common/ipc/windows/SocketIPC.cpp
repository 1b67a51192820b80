#include "common/ipc/SocketIPC.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <winsock2.h>

#include "common/err/Errors.h"
#include "common/ipc/Deadline.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/WinSockManager.h"
#include "common/ipc/windows/Socket.h"

namespace ipc {
namespace {

constexpr const char* kSource = "SocketIPC";

int ClampToInt(std::size_t length) {
    return static_cast<int>(std::min<std::size_t>(length, INT_MAX));
}

[[noreturn]] void RaiseTimeOut() {
    throw CIPCError(kSource, "CSocketIPC::Read Timed Out", 254, 1, kWsaTimedOut);
}

}  // namespace

CSocketIPC::CSocketIPC() : socket_(std::make_unique<Socket>()) {
    WinSockManager::Instance();
}

CSocketIPC::~CSocketIPC() = default;

// A cancel makes the socket count as ready: the call that follows raises.
bool CSocketIPC::IsReadyWithin(WaitMode mode, const Deadline& deadline) const {
    if (!*socket_) {
        throw CIPCError(kSource, "CSocketIPC::Read/Select Socket Error", 252, 0, kWsaNotSocket);
    }
    const auto condition =
        mode == WaitMode::Read ? Socket::Condition::Readable : Socket::Condition::Writable;
    return socket_->Wait(condition, deadline) != Socket::Outcome::TimedOut;
}

// The socket does not block (see NewSocket), so a wait that saw data coming may still find
// none and waits again.
int CSocketIPC::Read(void* buffer, unsigned length, unsigned timeoutMs) {
    std::lock_guard lock(readLock_);
    const Deadline deadline(timeoutMs);
    int received;
    do {
        if (!IsReadyWithin(WaitMode::Read, deadline)) {
            RaiseTimeOut();
        }
        // After a cancel the stream has ended for this side, whatever is still on its way.
        received = socket_->IsWoken()
                       ? 0
                       : ::recv(socket_->Get(), static_cast<char*>(buffer), ClampToInt(length), 0);
    } while (received == SOCKET_ERROR && LastSocketError() == WSAEWOULDBLOCK);
    if (received == SOCKET_ERROR) {
        throw CIPCError(kSource, "CSocketIPC::Read Socket Error", 290, 0, LastSocketError());
    }
    if (received > 0) {
        return received;
    }
    // The stream has ended. An error the socket still holds tells a reset from an orderly
    // close, which leaves 0.
    int pending = 0;
    int size = sizeof pending;
    ::getsockopt(socket_->Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &size);
    const auto code = static_cast<std::uint32_t>(pending);
    if (IsConnectionLost(code)) {
        throw CIPCError(kSource, "CSocketIPC::Read Socket returnd 0 bytes ", 306, 0, code);
    }
    throw CIPCError(kSource, "CSocketIPC::Read Socket unknown error", 310, 0, code);
}

// The socket does not block, so a send takes what fits in the socket's buffer and the wait
// alone decides how long a full buffer may hold the write up.
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
        if (socket_->IsWoken()) {
            throw CIPCError(kSource, "CSocketIPC::Write Socket Error", 348, 0, kWsaShutdown);
        }
        const int count = ::send(socket_->Get(), bytes + sent, ClampToInt(total - sent), 0);
        if (count == SOCKET_ERROR && LastSocketError() != WSAEWOULDBLOCK) {
            throw CIPCError(kSource, "CSocketIPC::Write Socket Error", 348, 0, LastSocketError());
        }
        sent += static_cast<std::size_t>(std::max(count, 0));
    }
    return static_cast<int>(sent);
}

void CSocketIPC::SetCloseOptions() const {
    const linger lingerOption{1, 5};
    ::setsockopt(socket_->Get(), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&lingerOption), sizeof lingerOption);
    const BOOL reuse = TRUE;
    ::setsockopt(socket_->Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                 sizeof reuse);
}

int CSocketIPC::Disconnect() {
    std::lock_guard lock(disconnectLock_);
    if (!*socket_) {
        return 0;
    }
    SetCloseOptions();
    if (IsConnected()) {
        ::shutdown(socket_->Get(), SD_SEND);
        connected_ = false;
    }
    return 0;
}

void CSocketIPC::CancelBlockingCall() {
    std::lock_guard lock(cancelLock_);
    cancelled_ = true;
    if (*socket_) {
        SetCloseOptions();
        ::shutdown(socket_->Get(), SD_BOTH);
        socket_->Wake();
    }
}

}  // namespace ipc
