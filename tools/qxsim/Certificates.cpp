#include "tools/qxsim/Certificates.h"

#include <stdlib.h>

#include <filesystem>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace qxsim {

void OpenSslFree::operator()(SSL_CTX* context) const {
    SSL_CTX_free(context);
}
void OpenSslFree::operator()(SSL* ssl) const {
    SSL_free(ssl);
}
void OpenSslFree::operator()(X509* certificate) const {
    X509_free(certificate);
}
void OpenSslFree::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

namespace {

[[noreturn]] void Fail(const std::string& what) {
    char reason[256] = "no reason given";
    if (const unsigned long code = ERR_get_error()) {
        ERR_error_string_n(code, reason, sizeof reason);
    }
    throw std::runtime_error(what + ": " + reason);
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

OpenSslPtr<SSL_CTX> NewServerContext() {
    OpenSslPtr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()));
    Check(context != nullptr, "SSL_CTX_new");
    Check(SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) == 1,
          "SSL_CTX_set_min_proto_version");
    // An agent that ends its session simply closes the socket; that is its way of saying
    // goodbye, not an attack on the stream.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    return context;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    const bool added = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    Check(added, "X509_add_ext");
}

// The names of the right server certificate, and of the one for a wrong name.
constexpr const char* kRightNames = "IP:127.0.0.1,DNS:localhost";
constexpr const char* kWrongName = "wrong-name.invalid";
constexpr const char* kWrongNames = "DNS:wrong-name.invalid,DNS:mgmt*.corvane.example";

// A positive random number: serial numbers and authority names differ from run to run, so
// that a chain engine that still holds an authority of an earlier run, or looks issuers up by
// name and serial number, never takes one run's certificate for another's.
long RandomNumber() {
    unsigned long number = 0;
    Check(RAND_bytes(reinterpret_cast<unsigned char*>(&number), sizeof number) == 1, "RAND_bytes");
    return static_cast<long>(number >> 2);
}

// A certificate for key named commonName (a server's also by the alternative names),
// valid from an hour ago for thirty days, signed by issuer, or by itself as an authority when
// issuer is null.
OpenSslPtr<X509> NewCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                                EVP_PKEY* issuerKey, const char* names = "") {
    OpenSslPtr<X509> certificate(X509_new());
    X509* self = certificate.get();
    Check(self != nullptr, "X509_new");
    X509_set_version(self, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(self), RandomNumber());
    X509_gmtime_adj(X509_getm_notBefore(self), -3600);
    X509_gmtime_adj(X509_getm_notAfter(self), 30L * 86400);
    X509_set_pubkey(self, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(self), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509* signer = issuer != nullptr ? issuer : self;
    X509_set_issuer_name(self, X509_get_subject_name(signer));
    if (issuer == nullptr) {
        AddExtension(self, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(self, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(self, signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(self, signer, NID_key_usage, "critical,digitalSignature");
        AddExtension(self, signer, NID_subject_alt_name, names);
    }
    AddExtension(self, signer, NID_subject_key_identifier, "hash");
    Check(X509_sign(self, issuer != nullptr ? issuerKey : key, EVP_sha256()) > 0, "X509_sign");
    return certificate;
}

std::string MakeScratchFolder() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qxsim-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder for the certificate authority");
    }
    return pattern;
}

OpenSslPtr<X509> Share(X509* certificate) {
    X509_up_ref(certificate);
    return OpenSslPtr<X509>(certificate);
}

OpenSslPtr<EVP_PKEY> Share(EVP_PKEY* key) {
    EVP_PKEY_up_ref(key);
    return OpenSslPtr<EVP_PKEY>(key);
}

OpenSslPtr<EVP_PKEY> NewKey() {
    OpenSslPtr<EVP_PKEY> key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "EVP_EC_gen");
    return key;
}

}  // namespace

GeneratedCertificate GenerateCertificate() {
    GeneratedCertificate made;
    made.authorityKey = NewKey();
    made.key = NewKey();
    made.authority =
        NewCertificate(made.authorityKey.get(), "qxsim authority " + std::to_string(RandomNumber()),
                       nullptr, nullptr);
    made.certificate = NewCertificate(made.key.get(), "127.0.0.1", made.authority.get(),
                                      made.authorityKey.get(), kRightNames);
    return made;
}

GeneratedCertificate Reissue(const GeneratedCertificate& made, Presented presented) {
    GeneratedCertificate copy;
    copy.authority = Share(made.authority.get());
    copy.authorityKey = Share(made.authorityKey.get());
    copy.key = presented == Presented::kWrongKey ? NewKey() : Share(made.key.get());
    switch (presented) {
        case Presented::kRight:
            copy.certificate = Share(made.certificate.get());
            break;
        case Presented::kWrongName:
            copy.certificate = NewCertificate(copy.key.get(), kWrongName, copy.authority.get(),
                                              copy.authorityKey.get(), kWrongNames);
            break;
        case Presented::kWrongKey:
            copy.certificate = NewCertificate(copy.key.get(), "127.0.0.1", copy.authority.get(),
                                              copy.authorityKey.get(), kRightNames);
            break;
    }
    return copy;
}

std::string KeyPin(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const bool digested = length > 0 && EVP_Digest(der, static_cast<std::size_t>(length), digest,
                                                   &size, EVP_sha256(), nullptr) == 1;
    OPENSSL_free(der);
    Check(digested, "the key's SHA-256");
    std::string pin;
    for (unsigned int i = 0; i < size; ++i) {
        static constexpr char kHex[] = "0123456789abcdef";
        pin += kHex[digest[i] >> 4];
        pin += kHex[digest[i] & 0x0f];
    }
    return pin;
}

void WritePem(const std::string& path, X509* certificate) {
    BIO* file = BIO_new_file(path.c_str(), "w");
    if (file == nullptr) {
        Fail("cannot write " + path);
    }
    const bool written = PEM_write_bio_X509(file, certificate) == 1;
    BIO_free(file);
    Check(written, "PEM_write_bio_X509");
}

TlsContext::TlsContext() : context_(NewServerContext()) {}

TlsContext::~TlsContext() {
    if (!scratchFolder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratchFolder_, ignored);
    }
}

std::unique_ptr<TlsContext> TlsContext::FromFiles(const std::string& certificate,
                                                  const std::string& key) {
    std::unique_ptr<TlsContext> tls(new TlsContext());
    SSL_CTX* context = tls->Get();
    if (SSL_CTX_use_certificate_chain_file(context, certificate.c_str()) != 1) {
        Fail("cannot use the certificate " + certificate);
    }
    if (SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        Fail("cannot use the key " + key);
    }
    Check(SSL_CTX_check_private_key(context) == 1, "the key does not match the certificate");
    tls->presentedPin_ = KeyPin(SSL_CTX_get0_certificate(context));
    return tls;
}

std::unique_ptr<TlsContext> TlsContext::Generated(const std::string& caOut, Presented presented) {
    std::unique_ptr<TlsContext> tls(new TlsContext());
    const GeneratedCertificate made = GenerateCertificate();
    const GeneratedCertificate shown = Reissue(made, presented);
    Check(SSL_CTX_use_certificate(tls->Get(), shown.certificate.get()) == 1,
          "SSL_CTX_use_certificate");
    Check(SSL_CTX_use_PrivateKey(tls->Get(), shown.key.get()) == 1, "SSL_CTX_use_PrivateKey");
    tls->presentedPin_ = KeyPin(shown.certificate.get());
    if (presented == Presented::kWrongKey) {
        tls->rightPin_ = KeyPin(made.certificate.get());
    }
    if (caOut.empty()) {
        tls->scratchFolder_ = MakeScratchFolder();
        tls->caFile_ = tls->scratchFolder_ + "/ca.pem";
    } else {
        tls->caFile_ = caOut;
    }
    WritePem(tls->caFile_, made.authority.get());
    return tls;
}

}  // namespace qxsim
