#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/ipc/Aipc.h"
#include "common/lang/CriticalSection.h"

// The agent's connection to its server. Reads take the read lock and writes the write lock,
// so one read and one write run at the same time; EncryptSocket takes both, in that order,
// to swap the plain transport for an encrypted one built over it.
class CAgentSocket {
public:
    // Takes the plain transport the agent created.
    explicit CAgentSocket(std::unique_ptr<ipc::CIPCInterface> transport);
    CAgentSocket(const CAgentSocket&) = delete;
    CAgentSocket& operator=(const CAgentSocket&) = delete;
    virtual ~CAgentSocket();

    // Connect and Disconnect take no lock: the agent calls them while no thread reads or
    // writes.
    int Connect(const char* resource, int port);
    int Disconnect();
    // Transport errors (ipc::CIPCError) pass through.
    int Read(void* buffer, unsigned length, unsigned timeoutMs);
    int Write(const void* buffer, unsigned length, unsigned timeoutMs);
    // What EncryptSocket will ask of the server's certificate; set before the threads start.
    void SetServerIdentity(ipc::ServerIdentityPolicy policy) { identity_ = std::move(policy); }
    // Replaces the transport by a TLS one over it; on failure the old one stays in use and
    // the error goes to the caller.
    void EncryptSocket();
    // True once the transport is a TLS session whose handshake succeeded. Takes no lock.
    bool IsEncrypted() const { return encrypted_.load(); }
    // Why the switch to encryption left a channel without a session (its first Read or
    // Write will raise); empty while the transport is plain or the handshake succeeded.
    std::string HandshakeFailure();
    // Ends the connection in both directions whatever the transport on top: a Read or Write
    // blocked on another thread raises, and so does every later Read. An encrypted session
    // first says close_notify when no write is under way or a write lets go within a moment.
    // Waits for no Read, and no longer than that moment for a Write; errors of the transport
    // pass through.
    void Close();
    bool IsClosed() const { return closed_.load(); }

private:
    void SayGoodbye();

    std::unique_ptr<ipc::CIPCInterface> transport_;
    ipc::ServerIdentityPolicy identity_;
    lang::CriticalSection readLock_;
    lang::CriticalSection writeLock_;
    // The plain transport at the bottom, owned through transport_ (directly or by the
    // encrypted transport); null once an encrypted transport's Disconnect has deleted it.
    ipc::CIPCInterface* plain_;
    lang::CriticalSection plainLock_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> encrypted_{false};
};
