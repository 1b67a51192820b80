#pragma once

#include <cstdint>
#include <string>

#include "common/ipc/SocketIPC.h"

namespace ipc {

// An IPv4 TCP client connection.
class CTCPSocketIPC : public CSocketIPC {
public:
    CTCPSocketIPC();
    // Disconnects; the socket closes with the object.
    ~CTCPSocketIPC() override;

    // The port text is read as a number; one that is not a valid port raises the
    // missing-port error.
    int Connect(const char* resource, const char* port) override;
    // Connects to the resource (host name or dotted address) and returns the socket.
    int Connect(const char* resource, int port) override;
    bool IsConnected() const override;
    // Creates the socket; raises when there already is one.
    int NewSocket() override;

    // The local address of the connected socket, "0.0.0.0" without one.
    std::string GetLocalAddress() const;
    // The address of the last Connect, "0.0.0.0" before any.
    std::string GetRemoteAddress() const;

private:
    void StartConnect();
    void AwaitConnect();
    [[noreturn]] static void RaiseConnectError(std::uint32_t code);

    // The address (in network order) and the port of the last Connect.
    std::uint32_t remoteAddress_ = 0;
    std::uint16_t remotePort_ = 0;
    mutable lang::CriticalSection connectLock_;
};

}  // namespace ipc
