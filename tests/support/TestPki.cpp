// The certificates of the tests, made at run time, and the TLS contexts that use them.

#include <stdlib.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <stdexcept>

#include "tests/support/TestServer.h"

namespace testsupport {
namespace {

[[noreturn]] void Fail(const char* what) {
    char reason[256] = {};
    ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
    throw std::runtime_error(std::string(what) + ": " + reason);
}

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension || X509_add_ext(certificate, extension, -1) != 1) {
        Fail("X509_add_ext");
    }
    X509_EXTENSION_free(extension);
}

SslPtr<EVP_PKEY> NewKey() {
    SslPtr<EVP_PKEY> key(EVP_EC_gen("P-256"));
    if (!key) {
        Fail("EVP_EC_gen");
    }
    return key;
}

// A certificate for key, named commonName, signed by issuer (self-signed when issuer is
// null), valid from an hour ago for a day.
SslPtr<X509> NewCertificate(EVP_PKEY* key, const char* commonName, X509* issuer,
                            EVP_PKEY* issuerKey, long serial) {
    SslPtr<X509> certificate(X509_new());
    X509* self = certificate.get();
    X509_set_version(self, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(self), serial);
    X509_gmtime_adj(X509_getm_notBefore(self), -3600);
    X509_gmtime_adj(X509_getm_notAfter(self), 86400);
    X509_set_pubkey(self, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(self), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer ? issuer : self;
    X509_set_issuer_name(self, X509_get_subject_name(signer));
    const bool isAuthority = issuer == nullptr;
    AddExtension(self, signer, NID_basic_constraints,
                 isAuthority ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(self, signer, NID_key_usage,
                 isAuthority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    AddExtension(self, signer, NID_subject_key_identifier, "hash");
    if (X509_sign(self, issuer ? issuerKey : key, EVP_sha256()) <= 0) {
        Fail("X509_sign");
    }
    return certificate;
}

std::string WriteCaFile(X509* authority) {
    const char* folder = ::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/wardex-ca-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    ::close(fd);
    BIO* file = BIO_new_file(path.c_str(), "w");
    const bool written = file && PEM_write_bio_X509(file, authority) == 1;
    BIO_free(file);
    if (!written) {
        Fail("PEM_write_bio_X509");
    }
    return path;
}

}  // namespace

void SslDeleter::operator()(SSL* ssl) const {
    SSL_free(ssl);
}
void SslDeleter::operator()(SSL_CTX* context) const {
    SSL_CTX_free(context);
}
void SslDeleter::operator()(X509* certificate) const {
    X509_free(certificate);
}
void SslDeleter::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

TestPki& TestPki::Instance() {
    static TestPki pki;
    return pki;
}

TestPki::TestPki()
    : trustedCaKey_(NewKey()),
      trustedCa_(NewCertificate(trustedCaKey_.get(), "wardex test CA", nullptr, nullptr, 1)),
      serverKey_(NewKey()),
      server_(NewCertificate(serverKey_.get(), "wardex test server", trustedCa_.get(),
                             trustedCaKey_.get(), 2)),
      untrustedCaKey_(NewKey()),
      untrustedCa_(NewCertificate(untrustedCaKey_.get(), "unknown CA", nullptr, nullptr, 3)),
      untrustedServer_(NewCertificate(serverKey_.get(), "wardex test server", untrustedCa_.get(),
                                      untrustedCaKey_.get(), 4)),
      caFile_(WriteCaFile(trustedCa_.get())) {
    ::setenv("SSL_CERT_FILE", caFile_.c_str(), 1);
}

TestPki::~TestPki() {
    ::unlink(caFile_.c_str());
}

SslPtr<SSL_CTX> TestPki::ServerContext(bool trusted, int maxVersion) const {
    SslPtr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()));
    if (!context ||
        SSL_CTX_use_certificate(context.get(), trusted ? server_.get() : untrustedServer_.get()) !=
            1 ||
        SSL_CTX_use_PrivateKey(context.get(), serverKey_.get()) != 1 ||
        (maxVersion != 0 && SSL_CTX_set_max_proto_version(context.get(), maxVersion) != 1)) {
        Fail("server context");
    }
    return context;
}

SslPtr<SSL_CTX> ClientContext(const std::string& caFile) {
    SslPtr<SSL_CTX> context(SSL_CTX_new(TLS_client_method()));
    if (!context || SSL_CTX_load_verify_locations(context.get(), caFile.c_str(), nullptr) != 1) {
        Fail("client context");
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    return context;
}

}  // namespace testsupport
