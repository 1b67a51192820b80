#pragma once

#include <cstddef>
#include <string>

#include "common/sys/FileDescriptor.h"

// The server side of the transport tests and benchmarks, written directly on sockets. Every
// wait is bounded, so a client that misbehaves fails a test instead of hanging it; failures
// are raised as std::runtime_error.
namespace testipc {

// How long a test server waits for its client before it gives up.
inline constexpr int kServerWaitMs = 5000;

// A TCP socket listening on 127.0.0.1 at a port the kernel chose.
class Listener {
public:
    Listener();

    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // The next connection, with Nagle's delay off so that each send leaves as it is.
    sys::FileDescriptor Accept();

private:
    sys::FileDescriptor socket_;
    int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (it was bound and released again).
int ClosedPort();

// Sends all bytes, at most segment bytes per send.
void SendAll(int socket, const void* data, std::size_t length,
             std::size_t segment = static_cast<std::size_t>(-1));
void SendAll(int socket, const std::string& data);

// Up to length bytes, waiting for the first; empty when the client has closed.
std::string ReceiveSome(int socket, std::size_t length);
// Exactly length bytes; raises when the client closes first.
std::string ReceiveExactly(int socket, std::size_t length);

// Closes with a reset instead of an orderly end.
void ResetConnection(sys::FileDescriptor& socket);

}  // namespace testipc
