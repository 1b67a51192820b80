#pragma once

#include <memory>

#include "common/ipc/ServerIdentity.h"

namespace ipc {

// Transport type codes of the factory.
inline constexpr int IPCTYPE_TCP = 3;       // plain TCP client
inline constexpr int IPCTYPE_SCHANNEL = 4;  // TLS client over an existing transport

// The byte channel the agent talks to its management server through. Time-outs are in
// milliseconds; lang::kInfinite waits for ever and 0 polls once. Failures are raised as
// ipc::CIPCError and its kinds; a read or write that returns has moved at least one byte.
// The order of the virtual operations is fixed.
class CIPCInterface {
public:
    CIPCInterface() = default;
    CIPCInterface(const CIPCInterface&) = delete;
    CIPCInterface& operator=(const CIPCInterface&) = delete;

    // The port as text: a text that is not a number counts as port 0.
    virtual int Connect(const char* resource, const char* port) = 0;
    virtual int Connect(const char* resource, int port) = 0;
    // Returns the bytes written, which may be fewer than length.
    virtual int Write(const void* buffer, unsigned length, unsigned timeoutMs) = 0;
    // Returns the bytes placed at the start of buffer.
    virtual int Read(void* buffer, unsigned length, unsigned timeoutMs) = 0;
    virtual int Disconnect() = 0;
    // Wakes a thread blocked in Read; this base raises, a transport that can do it overrides.
    virtual void CancelBlockingCall();
    virtual ~CIPCInterface() = 0;

    // A new unconnected transport of the type (IPCTYPE_TCP), or null for any other type.
    static std::unique_ptr<CIPCInterface> Create(int type);
    // A TLS transport (type IPCTYPE_SCHANNEL) over inner, which must be connected; the
    // handshake has run when it returns. On success the new transport owns inner and inner
    // is left empty. When it raises (bad arguments, a build without a TLS channel, or an
    // error of the inner transport during the handshake) inner keeps its transport. A
    // handshake that fails without such an error still gives the transport, whose first
    // Write or Read then raises; so does one whose server the policy refuses.
    static std::unique_ptr<CIPCInterface> CreateEncrypted(
        int type, std::unique_ptr<CIPCInterface>& inner,
        const ServerIdentityPolicy& policy = ServerIdentityPolicy());
};

}  // namespace ipc
