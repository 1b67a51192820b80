#pragma once

#include <cstddef>
#include <memory>
#include <openssl/types.h>
#include <string>

#include "common/sys/FileDescriptor.h"

// The TLS side of the transport tests and benchmarks: certificates made at run time and a
// server written directly on OpenSSL over memory buffers, so that the test decides which
// bytes leave in which TCP segment. Failures are raised as std::runtime_error.
namespace testipc {

struct SslDeleter {
    void operator()(SSL* ssl) const;
    void operator()(SSL_CTX* context) const;
    void operator()(X509* certificate) const;
    void operator()(EVP_PKEY* key) const;
};
template <typename T>
using SslPtr = std::unique_ptr<T, SslDeleter>;

// A certificate authority of the tests and a server certificate it signed; a second
// authority that nobody trusts signed a second server certificate. The trusted authority is
// written to a temporary file that SSL_CERT_FILE names, so the client's default trust store
// is that file alone.
class TestPki {
public:
    // Made once per process, on the first call, before any thread of a test starts.
    static TestPki& Instance();
    ~TestPki();

    // A server context with the trusted (or the untrusted) chain. maxVersion 0 allows every
    // version, TLS1_2_VERSION caps it.
    SslPtr<SSL_CTX> ServerContext(bool trusted, int maxVersion = 0) const;

private:
    TestPki();

    SslPtr<EVP_PKEY> trustedCaKey_;
    SslPtr<X509> trustedCa_;
    SslPtr<EVP_PKEY> serverKey_;
    SslPtr<X509> server_;
    SslPtr<EVP_PKEY> untrustedCaKey_;
    SslPtr<X509> untrustedCa_;
    SslPtr<X509> untrustedServer_;
    std::string caFile_;
};

// One TLS server connection over an accepted socket.
class TlsServerSession {
public:
    TlsServerSession(const SslPtr<SSL_CTX>& context, sys::FileDescriptor socket);

    int Socket() const { return socket_.Get(); }

    // Runs the server handshake, sending at most segment bytes per send; false when it
    // failed (the client rejected the certificate, or closed). With flushLast false the
    // last flight stays queued for the next Flush.
    bool Handshake(std::size_t segment = static_cast<std::size_t>(-1), bool flushLast = true);
    // Encrypts plaintext into one or more records queued for Flush.
    void Queue(const std::string& plaintext);
    // Sends everything queued, at most segment bytes per send.
    void Flush(std::size_t segment = static_cast<std::size_t>(-1));
    // Takes the bytes queued without sending them.
    std::string TakeQueued();
    // Exactly length bytes of application data from the client.
    std::string Receive(std::size_t length);
    // Asks the client for a new handshake (a HelloRequest; TLS 1.2 only).
    void RequestRenegotiation();
    // Sends the server's close_notify.
    void Close();
    // Reads until the session ends, sending any alert of the server's own, and tells how:
    // "close_notify" when the client closed it cleanly, else the reason of the failure.
    std::string AwaitEnd();

private:
    bool ReceiveIntoEngine();

    sys::FileDescriptor socket_;
    SslPtr<SSL> ssl_;
    BIO* fromClient_ = nullptr;
    BIO* toClient_ = nullptr;
};

}  // namespace testipc
