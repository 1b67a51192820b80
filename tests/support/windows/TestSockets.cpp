#include <algorithm>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/TestServer.h"

namespace testsupport {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": Windows Sockets error " +
                             std::to_string(::WSAGetLastError()));
}

// The handles travel as int (see PeerSocket); -1 stands for INVALID_SOCKET.
SOCKET Native(int socket) {
    return static_cast<SOCKET>(static_cast<std::intptr_t>(socket));
}

int AsInt(SOCKET socket) {
    return static_cast<int>(socket);
}

// The test's side starts Winsock for itself, whatever the code under test does.
void StartWinsock() {
    static const struct Winsock {
        Winsock() {
            WSADATA data;
            ::WSAStartup(MAKEWORD(2, 2), &data);
        }
        ~Winsock() { ::WSACleanup(); }
    } winsock;
}

void WaitFor(int socket, short events) {
    WSAPOLLFD entry{Native(socket), events, 0};
    const int ready = ::WSAPoll(&entry, 1, kPeerWaitMs);
    if (ready == 0) {
        throw std::runtime_error("test peer: the other side did not answer in time");
    }
    if (ready < 0) {
        Fail("WSAPoll");
    }
}

PeerSocket BoundSocket() {
    StartWinsock();
    PeerSocket socket(AsInt(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (!socket) {
        Fail("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(Native(socket.Get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        0) {
        Fail("bind");
    }
    return socket;
}

int BoundPort(int socket) {
    sockaddr_in address{};
    int size = sizeof address;
    ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

void SetOption(int socket, int level, int option, int value) {
    ::setsockopt(Native(socket), level, option, reinterpret_cast<const char*>(&value),
                 sizeof value);
}

}  // namespace

void PeerSocket::Reset(int socket) noexcept {
    if (socket_ != -1 && socket_ != socket) {
        ::closesocket(Native(socket_));
    }
    socket_ = socket;
}

TestServer::TestServer() : socket_(BoundSocket()), port_(BoundPort(socket_.Get())) {
    if (::listen(Native(socket_.Get()), 8) != 0) {
        Fail("listen");
    }
}

PeerSocket TestServer::Accept() {
    WaitFor(socket_.Get(), POLLIN);
    PeerSocket connection(AsInt(::accept(Native(socket_.Get()), nullptr, nullptr)));
    if (!connection) {
        Fail("accept");
    }
    SetOption(connection.Get(), IPPROTO_TCP, TCP_NODELAY, 1);
    return connection;
}

int ClosedPort() {
    return BoundPort(BoundSocket().Get());
}

void SendAll(int socket, const void* data, std::size_t length, std::size_t segment) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        WaitFor(socket, POLLOUT);
        const auto size = static_cast<int>(std::min({length, segment, std::size_t{INT_MAX}}));
        const int sent = ::send(Native(socket), bytes, size, 0);
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
    const int received = ::recv(Native(socket), data.data(),
                                static_cast<int>(std::min<std::size_t>(length, INT_MAX)), 0);
    if (received < 0) {
        Fail("recv");
    }
    data.resize(static_cast<std::size_t>(received));
    return data;
}

void ResetConnection(PeerSocket& socket) {
    const linger abort{1, 0};
    ::setsockopt(Native(socket.Get()), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                 sizeof abort);
    socket.Reset();
}

bool HasNoDelay(int socket) {
    BOOL noDelay = FALSE;
    int size = sizeof noDelay;
    return ::getsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay),
                        &size) == 0 &&
           noDelay != FALSE;
}

// Wine's ntdll has an export of its own that names its version.
bool RunsUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ShrinkReceiveBuffer(int socket) {
    SetOption(socket, SOL_SOCKET, SO_RCVBUF, 4096);
}

}  // namespace testsupport
