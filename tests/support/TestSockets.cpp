// The test's sockets on the calls that both systems share; SocketPlatform.h, from the
// platform's folder, adds the rest. Every socket is non-blocking: a send takes only what the
// system takes at once, and each wait is a poll with the test's patience.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <stdexcept>

#include "SocketPlatform.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/SocketErrorText.h"
#include "tests/support/TestServer.h"

namespace testsupport {
namespace {

// The Windows Sockets number of a call that would have to wait.
constexpr std::uint32_t kWouldBlock = 10035;

[[noreturn]] void Fail(const std::string& what) {
    const std::uint32_t code = ipc::LastSocketError();
    throw std::runtime_error("test peer: " + what + ": " + ipc::SocketErrorText(code) + " (" +
                             std::to_string(code) + ")");
}

int WaitUntil(int socket, short events, int waitMs) {
    pollfd entry{};
    entry.fd = socket;
    entry.events = events;
    return sockets::Poll(entry, waitMs);
}

void WaitFor(int socket, short events) {
    const int ready = WaitUntil(socket, events, kPeerWaitMs);
    if (ready == 0) {
        throw std::runtime_error("test peer: the other side did not answer in time");
    }
    if (ready < 0) {
        Fail("poll");
    }
}

// A TCP socket; connected to port, or bound to a port of the system's choice for port 0.
PeerSocket LoopbackSocket(int port) {
    sockets::Start();
    PeerSocket socket(static_cast<int>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* name = reinterpret_cast<const sockaddr*>(&address);
    if (!socket || (port == 0 ? ::bind(socket.Get(), name, sizeof address)
                              : ::connect(socket.Get(), name, sizeof address)) != 0) {
        Fail(port == 0 ? "bind" : "cannot connect to port " + std::to_string(port));
    }
    sockets::Prepare(socket.Get());
    return socket;
}

int BoundPort(int socket) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

// The bytes the socket took now, 0 when it takes none at the moment; -1 on failure.
long SendNow(int socket, const char* data, std::size_t length) {
    const long sent = ::send(socket, data, static_cast<int>(std::min<std::size_t>(length, INT_MAX)),
                             sockets::kNoSignal);
    return sent < 0 && ipc::LastSocketError() == kWouldBlock ? 0 : sent;
}

}  // namespace

TestServer::TestServer(int backlog) : socket_(LoopbackSocket(0)), port_(BoundPort(socket_.Get())) {
    if (::listen(socket_.Get(), backlog) != 0) {
        Fail("listen");
    }
}

PeerSocket TestServer::Accept() {
    WaitFor(socket_.Get(), POLLIN);
    PeerSocket connection(static_cast<int>(::accept(socket_.Get(), nullptr, nullptr)));
    if (!connection) {
        Fail("accept");
    }
    sockets::Prepare(connection.Get());
    const int noDelay = 1;
    ::setsockopt(connection.Get(), IPPROTO_TCP, TCP_NODELAY,
                 reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return connection;
}

int ClosedPort() {
    return BoundPort(LoopbackSocket(0).Get());
}

PeerSocket Connect(int port) {
    return LoopbackSocket(port);
}

void SendAll(int socket, const std::string& data, std::size_t segment) {
    const char* bytes = data.data();
    std::size_t length = data.size();
    while (length > 0) {
        WaitFor(socket, POLLOUT);
        const long sent = SendNow(socket, bytes, std::min(length, segment));
        if (sent < 0) {
            Fail("send");
        }
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
}

std::size_t SendUntilHeldBack(int socket, const std::string& data, std::size_t limit) {
    std::size_t sent = 0;
    while (sent < limit) {
        const std::size_t offset = sent % data.size();
        const long count = SendNow(socket, data.data() + offset, data.size() - offset);
        if (count < 0 || (count == 0 && WaitUntil(socket, POLLOUT, 1000) != 1)) {
            break;
        }
        sent += static_cast<std::size_t>(count);
    }
    return sent;
}

std::string ReceiveSome(int socket, std::size_t length) {
    WaitFor(socket, POLLIN);
    std::string data(length, '\0');
    const long received =
        ::recv(socket, data.data(), static_cast<int>(std::min<std::size_t>(length, INT_MAX)), 0);
    if (received < 0) {
        Fail("recv");
    }
    data.resize(static_cast<std::size_t>(received));
    return data;
}

void HalfClose(int socket) {
    ::shutdown(socket, sockets::kShutSending);
}

void ResetConnection(PeerSocket& socket) {
    const linger abort{1, 0};
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                 sizeof abort);
    socket.Reset();
}

bool HasNoDelay(int socket) {
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    return ::getsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay),
                        &size) == 0 &&
           noDelay != 0;
}

std::string Request(const std::string& action, const std::string& lines) {
    return "Request=Work\nAction=" + action + "\n" + lines;
}

}  // namespace testsupport
