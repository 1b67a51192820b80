#pragma once

#include "tests/support/ScratchFiles.h"
#include "tools/qxsim/Certificates.h"

// The test peer with TLS on top, written directly on OpenSSL with certificates made at run
// time. TLS runs over memory buffers, so a test decides which bytes leave in which TCP segment.
namespace testsupport {

template <typename T>
using SslPtr = qxsim::OpenSslPtr<T>;

// Two server certificates for 127.0.0.1 made at run time, each signed by an authority of its
// own. The first authority is written to a temporary file that SSL_CERT_FILE names, so the
// agent's default trust store trusts it alone.
class TestPki {
public:
    // Made once per process, on the first call, before any thread of a test starts.
    static TestPki& Instance();

    // A server context with the trusted (or the untrusted) chain. maxVersion 0 allows every
    // version, TLS1_2_VERSION caps it.
    SslPtr<SSL_CTX> ServerContext(bool trusted, int maxVersion = 0) const;
    // A server context with a certificate of the trusted authority, as presented says, and
    // the pin of its key.
    SslPtr<SSL_CTX> ServerContext(qxsim::Presented presented) const;
    std::string Pin(qxsim::Presented presented) const;

private:
    TestPki();
    const qxsim::GeneratedCertificate& Trusted(qxsim::Presented presented) const;

    qxsim::GeneratedCertificate trusted_;
    qxsim::GeneratedCertificate untrusted_;
    qxsim::GeneratedCertificate wrongName_ = Reissue(trusted_, qxsim::Presented::kWrongName);
    qxsim::GeneratedCertificate wrongKey_ = Reissue(trusted_, qxsim::Presented::kWrongKey);
    scratch::ScratchFolder folder_;
    std::string caFile_ = folder_ / "ca.pem";
};

// A connection that is plain until StartTls has succeeded, and encrypted from then on.
class Peer : public PlainPeer {
public:
    using PlainPeer::PlainPeer;

    // Runs the server's side of the TLS handshake, at most segment bytes per send; false when
    // it failed (the other side rejected the certificate, or closed). With flushLast false the
    // last flight stays queued for the next Flush.
    bool StartTls(const SslPtr<SSL_CTX>& context, std::size_t segment = kWhole,
                  bool flushLast = true);
    // Encrypts plaintext into one or more records queued for Flush.
    void Queue(const std::string& plaintext);
    // Sends everything queued, at most segment bytes per send.
    void Flush(std::size_t segment = kWhole);
    // Asks the client for a new handshake (a HelloRequest; TLS 1.2 only).
    void RequestRenegotiation();
    // Sends this side's close_notify.
    void SendCloseNotify();
    // Reads until the stream ends, sending any alert of this side's own, and tells how:
    // "close_notify" when the other side closed the session cleanly, else the reason.
    std::string AwaitEnd();

private:
    void Transmit(const std::string& bytes) override;
    // Decrypts once encrypted.
    bool ReceiveMore() override;
    bool ReceiveIntoEngine();

    SslPtr<SSL> ssl_;
    // Owned by ssl_.
    BIO* incoming_ = nullptr;
    BIO* outgoing_ = nullptr;
};

}  // namespace testsupport
