#include "common/ipc/SocketIPC.h"

#include <algorithm>
#include <climits>
#include <mutex>

#include "common/err/Errors.h"
#include "common/ipc/Deadline.h"
#include "common/ipc/IpcLines.h"
#include "common/ipc/Socket.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/WinSockManager.h"

namespace ipc {
namespace {

constexpr const char* kSource = "SocketIPC";

int ClampToInt(std::size_t length) {
    return static_cast<int>(std::min<std::size_t>(length, INT_MAX));
}

[[noreturn]] void RaiseTimeOut() {
    throw CIPCError(kSource, "CSocketIPC::Read Timed Out", lines::kTimedOut, kIpcTimedOut,
                    kWsaTimedOut);
}

[[noreturn]] void RaiseWaitFailed(std::uint32_t code) {
    throw CIPCError(kSource, "CSocketIPC::Read/Select Socket Error", lines::kWaitFailed, kIpcFailed,
                    code);
}

}  // namespace

CSocketIPC::Socket::Outcome CSocketIPC::Socket::Await(Condition condition,
                                                      const Deadline& deadline) const {
    if (!*this) {
        RaiseWaitFailed(kWsaNotSocket);
    }
    const Outcome outcome = Wait(condition, deadline);
    if (outcome == Outcome::Error) {
        RaiseWaitFailed(LastSocketError());
    }
    return outcome;
}

CSocketIPC::CSocketIPC() : socket_(std::make_unique<Socket>()) {
    WinSockManager::Instance();
}

CSocketIPC::~CSocketIPC() = default;

// A cancel makes the socket count as ready: the call that follows raises.
bool CSocketIPC::IsReadyWithin(WaitMode mode, const Deadline& deadline) const {
    const auto condition =
        mode == WaitMode::Read ? Socket::Condition::Readable : Socket::Condition::Writable;
    return socket_->Await(condition, deadline) != Socket::Outcome::TimedOut;
}

// A wait that saw data coming may still find none when the socket does not block; it waits
// again.
int CSocketIPC::Read(void* buffer, unsigned length, unsigned timeoutMs) {
    std::lock_guard lock(readLock_);
    const Deadline deadline(timeoutMs);
    int received;
    do {
        if (!IsReadyWithin(WaitMode::Read, deadline)) {
            RaiseTimeOut();
        }
        received = socket_->Receive(buffer, ClampToInt(length));
    } while (received == kSocketTryAgain);
    if (received == kSocketFailed) {
        throw CIPCError(kSource, "CSocketIPC::Read Socket Error", lines::kReceiveFailed, kIpcFailed,
                        LastSocketError());
    }
    if (received > 0) {
        return received;
    }
    // The stream has ended. An error the socket still holds tells a reset from an orderly
    // close, which leaves 0.
    std::uint32_t code = 0;
    socket_->PendingError(code);  // one that cannot be read stays 0, as for an orderly close
    if (IsConnectionLost(code)) {
        throw CIPCError(kSource, "CSocketIPC::Read Socket returnd 0 bytes ", lines::kConnectionLost,
                        kIpcFailed, code);
    }
    throw CIPCError(kSource, "CSocketIPC::Read Socket unknown error",
                    lines::kStreamEndedUnexpectedly, kIpcFailed, code);
}

// A send takes what fits in the socket's buffer without blocking: the wait alone decides how
// long a full buffer may hold the write up.
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
        const int count = socket_->Send(bytes + sent, ClampToInt(total - sent));
        if (count == kSocketFailed) {
            throw CIPCError(kSource, "CSocketIPC::Write Socket Error", lines::kSendFailed,
                            kIpcFailed, LastSocketError());
        }
        sent += static_cast<std::size_t>(std::max(count, 0));
    }
    return static_cast<int>(sent);
}

int CSocketIPC::Disconnect() {
    std::lock_guard lock(disconnectLock_);
    if (!*socket_) {
        return 0;
    }
    socket_->SetCloseOptions();
    if (IsConnected()) {
        socket_->ShutdownSend();
        connected_ = false;
    }
    return 0;
}

void CSocketIPC::CancelBlockingCall() {
    std::lock_guard lock(cancelLock_);
    cancelled_ = true;
    if (*socket_) {
        socket_->SetCloseOptions();
        socket_->Cancel();
    }
}

}  // namespace ipc
