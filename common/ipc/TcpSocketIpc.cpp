#include "common/ipc/TcpSocketIpc.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "common/err/Errors.h"
#include "common/ipc/IpAddress.h"
#include "common/ipc/SocketError.h"

namespace ipc {
namespace {

constexpr const char* kSource = "common\\ipc\\TcpSocketIpc";

}  // namespace

CTCPSocketIPC::CTCPSocketIPC() {
    remote_.sin_family = AF_INET;
    remote_.sin_port = 0;
    remote_.sin_addr.s_addr = ::inet_addr("0.0.0.0");
}

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
        if (!socket_) {
            NewSocket();
        }
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<std::uint16_t>(port));
        remote.sin_addr.s_addr = IPv4Address(resource).NetworkOrder();
        remote_ = remote;
        if (::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&remote_), sizeof remote_) !=
            0) {
            throw CIPCError(kSource, "CTCPSocketIPC::Connect Failed to connect", 71, 0,
                            LastSocketError());
        }
    } catch (const CIPCError& error) {
        throw CIPCError(error);
    }
    // Each message goes out in one write as soon as it is ready: held back until the server
    // acknowledges the previous one, a reply would wait for its delayed acknowledgement.
    const int on = 1;
    ::setsockopt(socket_.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connected_ = true;
    return socket_.Get();
}

bool CTCPSocketIPC::IsConnected() const {
    return connected_;
}

int CTCPSocketIPC::NewSocket() {
    if (socket_) {
        throw CIPCError(kSource, "CTCPSocketIPC::NewSocket - Socket already exists", 113, 0, 0);
    }
    socket_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket_) {
        throw CIPCError(kSource, "CTCPSocketIPC::NewSocket", 119, 0, LastSocketError());
    }
    return socket_.Get();
}

std::string CTCPSocketIPC::GetLocalAddress() const {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t size = sizeof local;
    if (socket_) {
        ::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&local), &size);
    }
    return SocketAddressToString(reinterpret_cast<const sockaddr*>(&local));
}

std::string CTCPSocketIPC::GetRemoteAddress() const {
    std::lock_guard lock(connectLock_);
    return SocketAddressToString(reinterpret_cast<const sockaddr*>(&remote_));
}

}  // namespace ipc
