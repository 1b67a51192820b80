#pragma once

#include <cstddef>
#include <string>

#include "common/util/Owned.h"

// The other end of the agent's connection in the tests and benchmarks, written directly on
// the system's sockets: a server on 127.0.0.1 and the byte-level calls on its connections
// (tests/support/TestPeer.h adds messages and TLS). Every wait is bounded, so a side that
// stops answering fails a test instead of hanging it; failures are raised as
// std::runtime_error.
namespace testsupport {

// How long the test's side waits for the other one before it gives up.
inline constexpr int kPeerWaitMs = 20000;
// Sends everything in one call.
inline constexpr std::size_t kWhole = static_cast<std::size_t>(-1);

namespace sockets {
// Closes a socket of the test's side, as its system does (SocketPlatform.h).
void CloseSocket(int socket) noexcept;
}  // namespace sockets

// A socket of the test's side, closed when it goes: a file descriptor, or on Windows a
// socket handle (which Windows keeps within 32 bits).
using PeerSocket = util::Owned<util::ClosedBy<int, sockets::CloseSocket, -1>>;

// A TCP socket listening on 127.0.0.1 at a port the system chose.
class TestServer {
public:
    // backlog: how many connections may wait to be accepted; with 0, Linux keeps one.
    explicit TestServer(int backlog = 8);

    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // The next connection, with Nagle's delay off so that each send leaves as it is.
    PeerSocket Accept();

private:
    PeerSocket socket_;
    int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (it was bound and released again).
int ClosedPort();
// A connection to port on 127.0.0.1.
PeerSocket Connect(int port);

// Sends all bytes, at most segment bytes per send.
void SendAll(int socket, const std::string& data, std::size_t segment = kWhole);
// Up to length bytes, waiting for the first; empty when the other side has closed.
std::string ReceiveSome(int socket, std::size_t length);
// Sends data over and over without waiting, until limit bytes are sent or the other side has
// taken nothing for a second; the bytes it took.
std::size_t SendUntilHeldBack(int socket, const std::string& data, std::size_t limit);
// Ends the sending direction: the other side reads the end of the stream while its replies
// can still arrive.
void HalfClose(int socket);
// Closes with a reset instead of an orderly end.
void ResetConnection(PeerSocket& socket);
// Whether Nagle's delay is off on a socket.
bool HasNoDelay(int socket);

// The text of a request to the session toolbox of the tests: the lead pair "Request", its
// "Action" and more lines ("Name=value\n" each) after it.
std::string Request(const std::string& action, const std::string& lines = "");

}  // namespace testsupport
