#pragma once

#include <memory>
#include <openssl/types.h>
#include <string>

namespace qxsim {

struct OpenSslFree {
    void operator()(SSL_CTX* context) const;
    void operator()(SSL* ssl) const;
    void operator()(X509* certificate) const;
    void operator()(EVP_PKEY* key) const;
};
template <typename T>
using OpenSslPtr = std::unique_ptr<T, OpenSslFree>;

// A server certificate for 127.0.0.1 and its key, signed by a certificate authority made for
// this call alone.
struct GeneratedCertificate {
    OpenSslPtr<EVP_PKEY> key;
    OpenSslPtr<X509> certificate;
    OpenSslPtr<X509> authority;
    OpenSslPtr<EVP_PKEY> authorityKey;
};
GeneratedCertificate GenerateCertificate();

// Which server certificate the simulator presents: the right one, or one from the same
// authority that an agent checking the server's name or key must refuse.
enum class Presented {
    kRight,
    // The same key, for names no test connects to: "wrong-name.invalid" and the partial
    // wildcard "mgmt*.corvane.example", which a name check must not take for
    // "mgmt1.corvane.example".
    kWrongName,
    kWrongKey,  // for the same names, with a key of its own
};
// A certificate from made's authority as presented says (kRight: a copy of made).
GeneratedCertificate Reissue(const GeneratedCertificate& made, Presented presented);

// The pin of the certificate's key: the SHA-256 of its DER SubjectPublicKeyInfo, in 64
// lower-case hex digits.
std::string KeyPin(X509* certificate);

// Writes certificate to path in PEM form.
void WritePem(const std::string& path, X509* certificate);

// The server side of TLS: a context with the server certificate, either the one given or one
// signed by a certificate authority made for this run. A made authority is written to a PEM
// file for the agent's SSL_CERT_FILE; a folder made for it goes with this object. Failures
// are std::runtime_error with OpenSSL's reason.
class TlsContext {
public:
    static std::unique_ptr<TlsContext> FromFiles(const std::string& certificate,
                                                 const std::string& key);
    // caOut empty: the authority goes to ca.pem in a temporary folder of the run.
    static std::unique_ptr<TlsContext> Generated(const std::string& caOut,
                                                 Presented presented = Presented::kRight);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* Get() const { return context_.get(); }
    // The authority's file; empty when the certificate was given.
    const std::string& CaFile() const { return caFile_; }
    // The pin of the key presented, and of the right one when a wrong key is presented.
    const std::string& PresentedPin() const { return presentedPin_; }
    const std::string& RightPin() const { return rightPin_; }

private:
    TlsContext();

    OpenSslPtr<SSL_CTX> context_;
    std::string caFile_;
    std::string scratchFolder_;
    std::string presentedPin_;
    std::string rightPin_;
};

}  // namespace qxsim
