#include <stdlib.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdexcept>

#include "tests/support/TestPeer.h"

namespace testsupport {
namespace {

constexpr std::size_t kChunk = 0x10000;

[[noreturn]] void Fail(const std::string& what) {
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    throw std::runtime_error("test peer: " + what + ": " + (reason ? reason : "no reason"));
}

SslPtr<SSL_CTX> ContextFor(const qxsim::GeneratedCertificate& chain, int maxVersion) {
    SslPtr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()));
    if (!context || SSL_CTX_use_certificate(context.get(), chain.certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context.get(), chain.key.get()) != 1 ||
        (maxVersion != 0 && SSL_CTX_set_max_proto_version(context.get(), maxVersion) != 1)) {
        Fail("cannot make a server context");
    }
    return context;
}

}  // namespace

TestPki& TestPki::Instance() {
    static TestPki pki;
    return pki;
}

TestPki::TestPki()
    : trusted_(qxsim::GenerateCertificate()), untrusted_(qxsim::GenerateCertificate()) {
    qxsim::WritePem(caFile_, trusted_.authority.get());
    ::setenv("SSL_CERT_FILE", caFile_.c_str(), 1);
}

SslPtr<SSL_CTX> TestPki::ServerContext(bool trusted, int maxVersion) const {
    return ContextFor(trusted ? trusted_ : untrusted_, maxVersion);
}

const qxsim::GeneratedCertificate& TestPki::Trusted(qxsim::Presented presented) const {
    using qxsim::Presented;
    return presented == Presented::kWrongName  ? wrongName_
           : presented == Presented::kWrongKey ? wrongKey_
                                               : trusted_;
}

SslPtr<SSL_CTX> TestPki::ServerContext(qxsim::Presented presented) const {
    return ContextFor(Trusted(presented), 0);
}

std::string TestPki::Pin(qxsim::Presented presented) const {
    return qxsim::KeyPin(Trusted(presented).certificate.get());
}

void Peer::Transmit(const std::string& bytes) {
    if (!ssl_) {
        return SendRaw(bytes);
    }
    Queue(bytes);
    Flush();
}

bool Peer::ReceiveMore() {
    if (!ssl_) {
        return PlainPeer::ReceiveMore();
    }
    for (;;) {
        ERR_clear_error();
        char chunk[kChunk];
        std::size_t read = 0;
        const int result = SSL_read_ex(ssl_.get(), chunk, sizeof chunk, &read);
        const int error = SSL_get_error(ssl_.get(), result);
        // Sends what the read made this side answer: an alert, a handshake message.
        Flush();
        if (result == 1) {
            kept_.append(chunk, read);
            return true;
        }
        if (error == SSL_ERROR_ZERO_RETURN) {
            end_ = "close_notify";
            return false;
        }
        if (error != SSL_ERROR_WANT_READ) {
            const char* reason = ERR_reason_error_string(ERR_peek_last_error());
            end_ = reason ? reason : "a TLS failure";
            throw std::runtime_error("test peer: TLS read failed: " + end_);
        }
        if (!ReceiveIntoEngine()) {
            end_ = "the stream ended without close_notify";
            return false;
        }
    }
}

bool Peer::ReceiveIntoEngine() {
    const std::string bytes = ReceiveSome(socket_.Get(), kChunk);
    BIO_write(incoming_, bytes.data(), static_cast<int>(bytes.size()));
    return !bytes.empty();
}

bool Peer::StartTls(const SslPtr<SSL_CTX>& context, std::size_t segment, bool flushLast) {
    ssl_.reset(SSL_new(context.get()));
    incoming_ = BIO_new(BIO_s_mem());
    outgoing_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !incoming_ || !outgoing_) {
        Fail("cannot make a TLS session");
    }
    SSL_set_bio(ssl_.get(), incoming_, outgoing_);
    SSL_set_accept_state(ssl_.get());
    // Bytes that came with the last plain message belong to the handshake.
    BIO_write(incoming_, kept_.data(), static_cast<int>(kept_.size()));
    kept_.clear();
    for (;;) {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_.get());
        const int error = SSL_get_error(ssl_.get(), result);
        if (result == 1) {
            if (flushLast) {
                Flush(segment);
            }
            return true;
        }
        Flush(segment);
        if (error != SSL_ERROR_WANT_READ || !ReceiveIntoEngine()) {
            ssl_.reset();  // the connection stays plain; the buffers went with the session
            incoming_ = outgoing_ = nullptr;
            return false;
        }
    }
}

void Peer::Queue(const std::string& plaintext) {
    std::size_t written = 0;
    if (SSL_write_ex(ssl_.get(), plaintext.data(), plaintext.size(), &written) != 1) {
        Fail("SSL_write_ex");
    }
}

void Peer::Flush(std::size_t segment) {
    std::string queued(BIO_ctrl_pending(outgoing_), '\0');
    BIO_read(outgoing_, queued.data(), static_cast<int>(queued.size()));
    SendRaw(queued, segment);
}

void Peer::RequestRenegotiation() {
    if (SSL_renegotiate(ssl_.get()) != 1) {
        Fail("SSL_renegotiate");
    }
    // Sends the HelloRequest; the rest of the handshake waits for the client's answer.
    SSL_do_handshake(ssl_.get());
    Flush();
}

void Peer::SendCloseNotify() {
    SSL_shutdown(ssl_.get());
    Flush();
}

std::string Peer::AwaitEnd() {
    end_.clear();
    try {
        while (ReceiveMore()) {
            kept_.clear();
        }
    } catch (const std::runtime_error& error) {
        // A TLS failure is named in end_; a wait that ran out is not.
        return end_.empty() ? error.what() : end_;
    }
    return end_;
}

}  // namespace testsupport
