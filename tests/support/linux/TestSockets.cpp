#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>

#include "tests/support/TestServer.h"

namespace testsupport {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void WaitFor(int socket, short events) {
    pollfd entry{socket, events, 0};
    const int ready = ::poll(&entry, 1, kPeerWaitMs);
    if (ready == 0) {
        throw std::runtime_error("test peer: the other side did not answer in time");
    }
    if (ready < 0) {
        Fail("poll");
    }
}

PeerSocket BoundSocket() {
    PeerSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) {
        Fail("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Fail("bind");
    }
    return socket;
}

int BoundPort(int socket) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

}  // namespace

void PeerSocket::Reset(int socket) noexcept {
    if (socket_ != -1 && socket_ != socket) {
        ::close(socket_);
    }
    socket_ = socket;
}

TestServer::TestServer() : socket_(BoundSocket()), port_(BoundPort(socket_.Get())) {
    if (::listen(socket_.Get(), 8) != 0) {
        Fail("listen");
    }
}

PeerSocket TestServer::Accept() {
    WaitFor(socket_.Get(), POLLIN);
    PeerSocket connection(::accept4(socket_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) {
        Fail("accept");
    }
    const int on = 1;
    ::setsockopt(connection.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return connection;
}

int ClosedPort() {
    return BoundPort(BoundSocket().Get());
}

void SendAll(int socket, const void* data, std::size_t length, std::size_t segment) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        WaitFor(socket, POLLOUT);
        const ssize_t sent = ::send(socket, bytes, std::min(length, segment), MSG_NOSIGNAL);
        if (sent < 0) {
            Fail("send");
        }
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
}

std::string ReceiveSome(int socket, std::size_t length) {
    WaitFor(socket, POLLIN);
    std::string data(length, '\0');
    const ssize_t received = ::recv(socket, data.data(), length, 0);
    if (received < 0) {
        Fail("recv");
    }
    data.resize(static_cast<std::size_t>(received));
    return data;
}

void ResetConnection(PeerSocket& socket) {
    const linger abort{1, 0};
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    socket.Reset();
}

bool HasNoDelay(int socket) {
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    return ::getsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size) == 0 && noDelay != 0;
}

bool RunsUnderWine() {
    return false;
}

void ShrinkReceiveBuffer(int socket) {
    const int small = 4096;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
}

}  // namespace testsupport
