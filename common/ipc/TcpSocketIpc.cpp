#include "common/ipc/TcpSocketIpc.h"

#include <cstdlib>
#include <mutex>

#include "common/err/Errors.h"
#include "common/ipc/AddressText.h"
#include "common/ipc/IpAddress.h"
#include "common/ipc/IpcLines.h"
#include "common/ipc/Socket.h"
#include "common/ipc/SocketError.h"
#include "common/lang/Event.h"

namespace ipc {
namespace {

constexpr const char* kSource = "common\\ipc\\TcpSocketIpc";

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
        throw CTCPCSocketError(kSource,
                               "CTCPSocketIPC::Connect() Connect called on a connected socket",
                               lines::kConnectWhileConnected, kConnectAlreadyConnected, 0);
    }
    if (!resource) {
        throw CTCPCSocketError(kSource, "CTCPSocketIPC::Connect() Missing Parameter - resource",
                               lines::kConnectWithoutResource, kConnectMissingParameter, 0);
    }
    if (port <= 0 || port > 65535) {
        throw CTCPCSocketError(kSource, "CTCPSocketIPC::Connect() Missing Parameter - port",
                               lines::kConnectWithoutPort, kConnectMissingParameter, 0);
    }
    std::lock_guard lock(connectLock_);
    try {
        if (!*socket_) {
            NewSocket();
        }
        remoteAddress_ = IPv4Address(resource).NetworkOrder();
        remotePort_ = static_cast<std::uint16_t>(port);
        StartConnect();
        AwaitConnect();
    } catch (const CIPCError& error) {
        throw CIPCError(error);
    }
    socket_->SendWithoutDelay();
    connected_ = true;
    return socket_->AsInt();
}

// The connect begins under the cancel lock: a cancel that came first refuses it, and one
// that comes later finds a connect under way, which it abandons.
void CTCPSocketIPC::StartConnect() {
    std::lock_guard lock(cancelLock_);
    if (cancelled_) {
        RaiseConnectError(kWsaConnAborted);
    }
    if (!socket_->BeginConnect(remoteAddress_, remotePort_)) {
        RaiseConnectError(LastSocketError());
    }
}

// Waits as long as the system tries to connect; the socket then holds the connect's error.
void CTCPSocketIPC::AwaitConnect() {
    const auto outcome = socket_->Await(Socket::Condition::Connected, Deadline(lang::kInfinite));
    if (outcome == Socket::Outcome::WokenUp) {
        RaiseConnectError(kWsaConnAborted);
    }
    std::uint32_t pending = 0;
    if (!socket_->PendingError(pending)) {
        RaiseConnectError(LastSocketError());
    }
    if (pending != 0 || outcome == Socket::Outcome::Failed) {
        RaiseConnectError(pending);
    }
    socket_->FinishConnect();
}

void CTCPSocketIPC::RaiseConnectError(std::uint32_t code) {
    throw CIPCError(kSource, "CTCPSocketIPC::Connect Failed to connect", lines::kConnectFailed,
                    kIpcFailed, code);
}

bool CTCPSocketIPC::IsConnected() const {
    return connected_;
}

// Made under the cancel lock, so that a cancel finds no socket or the whole of one.
int CTCPSocketIPC::NewSocket() {
    if (*socket_) {
        throw CIPCError(kSource, "CTCPSocketIPC::NewSocket - Socket already exists",
                        lines::kSocketAlreadyExists, kIpcFailed, 0);
    }
    std::lock_guard lock(cancelLock_);
    if (!socket_->Open()) {
        throw CIPCError(kSource, "CTCPSocketIPC::NewSocket", lines::kSocketNotCreated, kIpcFailed,
                        LastSocketError());
    }
    return socket_->AsInt();
}

std::string CTCPSocketIPC::GetLocalAddress() const {
    return Ipv4Text(socket_->LocalAddress());
}

std::string CTCPSocketIPC::GetRemoteAddress() const {
    std::lock_guard lock(connectLock_);
    return Ipv4Text(remoteAddress_);
}

}  // namespace ipc
