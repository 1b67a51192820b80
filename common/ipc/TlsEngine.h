#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "common/ipc/ServerIdentity.h"

namespace ipc {

// The platform's TLS client for one session, held apart from any transport: it is fed the
// bytes that came from the server and drained of the bytes for the server. CTCPSChannel
// moves those bytes through its inner transport and calls the engine under one lock.
class TlsEngine {
public:
    enum class Progress { kDone, kWantInput, kFailed };

    // How a failed step ended: the platform's status and its reason in words.
    struct Failure {
        unsigned long status = 0;
        std::string reason;
    };

    // What Open found.
    struct Opened {
        std::size_t count = 0;  // application bytes placed in the buffer
        bool failed = false;    // the session is over; why says how, when known
        std::string why;
    };

    virtual ~TlsEngine() = default;

    // The client settings: no client certificate, the server's chain checked against the
    // platform's trust store (and its name and keys as the identity policy asks), TLS 1.2 or
    // newer. False when the platform
    // cannot provide them; StartSession then fails.
    virtual bool AcquireCredentials() = 0;
    // A new client session on those settings; false after a failure (see LastFailure).
    virtual bool StartSession() = 0;
    // Advances the handshake over what has been fed; its output waits in TakeOutput, also
    // after a failure (the alert that tells the server why).
    virtual Progress Handshake() = 0;
    virtual const Failure& LastFailure() const = 0;
    // Why the server's certificate was refused, after a failed handshake; empty when it was
    // not the certificate that failed it.
    virtual std::string Refusal() const = 0;

    virtual void Feed(const unsigned char* data, std::size_t size) = 0;
    virtual bool HasOutput() const = 0;
    virtual std::vector<unsigned char> TakeOutput() = 0;
    // Bytes received but not delivered yet: after the handshake, the application data that
    // came with its last message.
    virtual std::size_t Pending() const = 0;

    // The most application bytes one record carries.
    virtual std::size_t RecordSize() const = 0;
    // Makes the records for size bytes (at most RecordSize) and queues them as output; false
    // when the engine refuses.
    virtual bool Seal(const unsigned char* data, std::size_t size) = 0;
    // Up to length application bytes from the records fed so far; a count of 0 without
    // failure means no whole record is there yet.
    virtual Opened Open(unsigned char* buffer, std::size_t length) = 0;
    // Queues close_notify as output; nothing after a fatal alert.
    virtual void CloseNotify() = 0;
};

// This platform's engine, holding the server to the policy.
std::unique_ptr<TlsEngine> NewTlsEngine(const ServerIdentityPolicy& policy);

}  // namespace ipc
