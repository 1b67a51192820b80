#include "common/ipc/TcpSocketIpc.h"

#include <fcntl.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "common/err/Errors.h"
#include "common/ipc/IpAddress.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/linux/Socket.h"
#include "common/ipc/linux/SocketError.h"
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

}  // namespace

CTCPSocketIPC::CTCPSocketIPC() = default;

CTCPSocketIPC::~CTCPSocketIPC() {
    Disconnect();
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
    const int on = 1;
    ::setsockopt(socket_->Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connected_ = true;
    return socket_->Get();
}

// The connect begins without blocking, under the cancel lock: a cancel that came first
// refuses it, and one that comes later finds a connect under way, which shutting the socket
// abandons.
void CTCPSocketIPC::StartConnect() {
    std::lock_guard lock(cancelLock_);
    if (cancelled_) {
        RaiseConnectError(kWsaConnAborted);
    }
    SetBlocking(false);
    const sockaddr_in remote = MakeAddress(remoteAddress_, remotePort_);
    if (::connect(socket_->Get(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0 &&
        errno != EINPROGRESS) {
        RaiseConnectError(LastSocketError());
    }
}

// Waits as long as the system tries to connect, then makes the socket blocking again.
void CTCPSocketIPC::AwaitConnect() {
    IsReadyWithin(WaitMode::Write, Deadline(lang::kInfinite));
    int pending = 0;
    socklen_t size = sizeof pending;
    if (::getsockopt(socket_->Get(), SOL_SOCKET, SO_ERROR, &pending, &size) != 0) {
        RaiseConnectError(LastSocketError());
    }
    if (pending != 0) {
        RaiseConnectError(WinsockErrorFromErrno(pending));
    }
    SetBlocking(true);
}

void CTCPSocketIPC::SetBlocking(bool blocking) const {
    const int flags = ::fcntl(socket_->Get(), F_GETFL);
    ::fcntl(socket_->Get(), F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

void CTCPSocketIPC::RaiseConnectError(std::uint32_t code) {
    throw CIPCError(kSource, "CTCPSocketIPC::Connect Failed to connect", 71, 0, code);
}

bool CTCPSocketIPC::IsConnected() const {
    return connected_;
}

int CTCPSocketIPC::NewSocket() {
    if (*socket_) {
        throw CIPCError(kSource, "CTCPSocketIPC::NewSocket - Socket already exists", 113, 0, 0);
    }
    socket_->Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!*socket_) {
        throw CIPCError(kSource, "CTCPSocketIPC::NewSocket", 119, 0, LastSocketError());
    }
    return socket_->Get();
}

std::string CTCPSocketIPC::GetLocalAddress() const {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t size = sizeof local;
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
