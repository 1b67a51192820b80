#pragma once

#include <cstdint>
#include <memory>

#include "common/ipc/Deadline.h"
#include "common/ipc/SocketIPC.h"

namespace ipc {

// What ended a wait.
enum class SocketWaitOutcome {
    TimedOut,
    Ready,    // for a connect: it ended; the pending error tells how
    Failed,   // a connect failed (Winsock reports that among the exceptions)
    WokenUp,  // by Cancel
    Error,    // the wait itself failed
};
enum class SocketCondition { Readable, Writable, Connected };

// What a receive or a send gives instead of a count.
inline constexpr int kSocketFailed = -1;
inline constexpr int kSocketTryAgain = -2;  // interrupted, or the socket had no room or data

// The system's calls on the socket of a CSocketIPC, one implementation per platform; what
// the transport decides on top of them is the same everywhere. A call that fails leaves its
// Windows Sockets number for LastSocketError.
class CSocketIPC::Socket {
public:
    Socket();
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    explicit operator bool() const;
    // The socket as the interface gives it out.
    int AsInt() const;
    // Makes a new IPv4 stream socket, which programs the agent starts do not inherit.
    bool Open();

    using Outcome = SocketWaitOutcome;
    using Condition = SocketCondition;
    Outcome Wait(Condition condition, const Deadline& deadline) const;
    // Wait on an open socket, raising when the socket is closed or the wait fails.
    Outcome Await(Condition condition, const Deadline& deadline) const;

    // A receive or a send gives the count of bytes moved (0 for the end of the stream), or
    // kSocketFailed or kSocketTryAgain.
    int Receive(void* buffer, int length);
    int Send(const void* bytes, int length);

    // The error the socket holds, as a Windows Sockets number; false when it cannot be read.
    bool PendingError(std::uint32_t& code) const;
    // Begins a connect to an IPv4 address in network order.
    bool BeginConnect(std::uint32_t address, std::uint16_t port);
    // Readies a socket whose connect succeeded for the reads and writes.
    void FinishConnect();
    // Each message goes out in one write as soon as it is ready: held back until the server
    // acknowledges the previous one, a reply would wait for its delayed acknowledgement.
    void SendWithoutDelay();
    // Linger up to 5 seconds on close, and allow the local address to be reused.
    void SetCloseOptions();
    void ShutdownSend();
    // Shuts both directions and ends every wait, now and from now on.
    void Cancel();
    // The local IPv4 address in network order; 0 without one.
    std::uint32_t LocalAddress() const;

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

}  // namespace ipc
