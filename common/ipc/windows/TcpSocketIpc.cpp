#include "common/ipc/TcpSocketIpc.h"

#include <cstdlib>
#include <mutex>
#include <winsock2.h>

#include "common/err/Errors.h"
#include "common/ipc/IpAddress.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/windows/Socket.h"
#include "common/lang/Event.h"

namespace ipc {
namespace {

constexpr const char* kSource = "common\\ipc\\TcpSocketIpc";

// An IPv4 socket address from an address and a port in network order.
sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = port;
    result.sin_addr.s_addr = address;
    return result;
}

// The interface gives sockets out as int; Windows keeps socket handles within 32 bits.
int HandleAsInt(SOCKET socket) {
    return static_cast<int>(socket);
}

}  // namespace

CTCPSocketIPC::CTCPSocketIPC() = default;

// With a linger time set, a socket that does not block would refuse to close while bytes
// are still on their way and stay open, so it closes blocking.
CTCPSocketIPC::~CTCPSocketIPC() {
    Disconnect();
    if (*socket_) {
        SetBlocking(true);
    }
}

int CTCPSocketIPC::Connect(const char* resource, const char* port) {
    return Connect(resource, port ? std::atoi(port) : 0);
}

int CTCPSocketIPC::Connect(const char* resource, int port) {
    if (IsConnected()) {
        throw CTCPCSocketError(
            kSource, "CTCPSocketIPC::Connect() Connect called on a connected socket", 41, 1, 0);
    }
    if (!resource) {
        throw CTCPCSocketError(kSource, "CTCPSocketIPC::Connect() Missing Parameter - resource", 44,
                               2, 0);
    }
    if (port <= 0 || port > 65535) {
        throw CTCPCSocketError(kSource, "CTCPSocketIPC::Connect() Missing Parameter - port", 47, 2,
                               0);
    }
    std::lock_guard lock(connectLock_);
    try {
        if (!*socket_) {
            NewSocket();
        }
        remoteAddress_ = IPv4Address(resource).NetworkOrder();
        remotePort_ = htons(static_cast<std::uint16_t>(port));
        StartConnect();
        AwaitConnect();
    } catch (const CIPCError& error) {
        throw CIPCError(error);
    }
    // Each message goes out in one write as soon as it is ready: held back until the server
    // acknowledges the previous one, a reply would wait for its delayed acknowledgement.
    const BOOL on = TRUE;
    ::setsockopt(socket_->Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                 sizeof on);
    connected_ = true;
    return HandleAsInt(socket_->Get());
}

// The connect begins under the cancel lock: a cancel that came first refuses it, and one
// that comes later finds a connect under way, which its wake-up abandons.
void CTCPSocketIPC::StartConnect() {
    std::lock_guard lock(cancelLock_);
    if (cancelled_) {
        RaiseConnectError(kWsaConnAborted);
    }
    const sockaddr_in remote = MakeAddress(remoteAddress_, remotePort_);
    if (::connect(socket_->Get(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0 &&
        LastSocketError() != WSAEWOULDBLOCK) {
        RaiseConnectError(LastSocketError());
    }
}

// Waits as long as the system tries to connect. Winsock reports a failed attempt among the
// exceptions of the wait and keeps its error for SO_ERROR.
void CTCPSocketIPC::AwaitConnect() {
    const auto outcome = socket_->Wait(Socket::Condition::Connected, Deadline(lang::kInfinite));
    if (outcome == Socket::Outcome::WokenUp) {
        RaiseConnectError(kWsaConnAborted);
    }
    int pending = 0;
    int size = sizeof pending;
    if (::getsockopt(socket_->Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending),
                     &size) != 0) {
        RaiseConnectError(LastSocketError());
    }
    if (pending != 0 || outcome == Socket::Outcome::Failed) {
        RaiseConnectError(static_cast<std::uint32_t>(pending));
    }
}

void CTCPSocketIPC::SetBlocking(bool blocking) const {
    u_long nonBlocking = blocking ? 0 : 1;
    ::ioctlsocket(socket_->Get(), FIONBIO, &nonBlocking);
}

void CTCPSocketIPC::RaiseConnectError(std::uint32_t code) {
    throw CIPCError(kSource, "CTCPSocketIPC::Connect Failed to connect", 71, 0, code);
}

bool CTCPSocketIPC::IsConnected() const {
    return connected_;
}

// The socket never blocks: its waits bound every call (see CSocketIPC). Like every handle
// of the agent it is not inherited by programs the agent starts.
int CTCPSocketIPC::NewSocket() {
    if (*socket_) {
        throw CIPCError(kSource, "CTCPSocketIPC::NewSocket - Socket already exists", 113, 0, 0);
    }
    const SOCKET stream = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (stream == INVALID_SOCKET) {
        throw CIPCError(kSource, "CTCPSocketIPC::NewSocket", 119, 0, LastSocketError());
    }
    std::lock_guard lock(cancelLock_);
    socket_->Open(stream);
    SetBlocking(false);
    return HandleAsInt(socket_->Get());
}

std::string CTCPSocketIPC::GetLocalAddress() const {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    int size = sizeof local;
    if (*socket_) {
        ::getsockname(socket_->Get(), reinterpret_cast<sockaddr*>(&local), &size);
    }
    return SocketAddressToString(reinterpret_cast<const sockaddr*>(&local));
}

std::string CTCPSocketIPC::GetRemoteAddress() const {
    std::lock_guard lock(connectLock_);
    const sockaddr_in remote = MakeAddress(remoteAddress_, remotePort_);
    return SocketAddressToString(reinterpret_cast<const sockaddr*>(&remote));
}

}  // namespace ipc
