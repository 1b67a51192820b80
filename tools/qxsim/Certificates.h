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
};
GeneratedCertificate GenerateCertificate();

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
    static std::unique_ptr<TlsContext> Generated(const std::string& caOut);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* Get() const { return context_.get(); }
    // The authority's file; empty when the certificate was given.
    const std::string& CaFile() const { return caFile_; }

private:
    TlsContext();

    OpenSslPtr<SSL_CTX> context_;
    std::string caFile_;
    std::string scratchFolder_;
};

}  // namespace qxsim
