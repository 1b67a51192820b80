#include "common/ipc/TlsEngine.h"

#include <algorithm>
#include <climits>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <optional>

#include "common/util/StringUtils.h"

namespace ipc {
namespace {

struct SslContextDeleter {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using SslContext = std::unique_ptr<SSL_CTX, SslContextDeleter>;

struct SslDeleter {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The pins of the identity policy and, once a chain was refused under them, why.
struct PinCheck {
    std::string pins;
    std::string refusal;
};

std::optional<KeyFingerprint> FingerprintOf(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    KeyFingerprint fingerprint{};
    unsigned int size = 0;
    const bool digested =
        length > 0 && EVP_Digest(der, static_cast<std::size_t>(length), fingerprint.data(), &size,
                                 EVP_sha256(), nullptr) == 1;
    OPENSSL_free(der);
    return digested && size == fingerprint.size() ? std::optional(fingerprint) : std::nullopt;
}

// OpenSSL's own verification of the chain (the name check included), then the pins over the
// keys of the verified chain, all before the handshake can finish.
int VerifyChainAndPins(X509_STORE_CTX* store, void* argument) {
    if (X509_verify_cert(store) != 1) {
        return 0;
    }
    auto& check = *static_cast<PinCheck*>(argument);
    std::vector<KeyFingerprint> keys;
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(store);
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        if (const auto key = FingerprintOf(sk_X509_value(chain, i))) {
            keys.push_back(*key);
        }
    }
    check.refusal = CheckPinnedKeys(check.pins, keys);
    if (!check.refusal.empty()) {
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }
    return 1;
}

// Has OpenSSL check the name in the certificate's subject alternative names: as an IP
// address when it reads as one, else as a DNS name, which the server also gets as SNI.
bool RequireName(SSL* ssl, const std::string& name) {
    if (name.empty()) {
        return true;
    }
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1) {
        return true;
    }
    ERR_clear_error();
    return X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) == 1 &&
           SSL_set_tlsext_host_name(ssl, name.c_str()) == 1;
}

int ClampToInt(std::size_t count) {
    return static_cast<int>(std::min<std::size_t>(count, INT_MAX));
}

// Why reading the session failed, from SSL_get_error and the engine's error code.
std::string ReadFailure(int error, unsigned long code) {
    if (error == SSL_ERROR_ZERO_RETURN) {
        return "The server closed the session (close_notify).";
    }
    const int reason = ERR_GET_REASON(code);
    if (ERR_GET_LIB(code) == ERR_LIB_SSL && reason > SSL_AD_REASON_OFFSET) {
        return util::Format("The server ended the session with the alert \"%s\".",
                            SSL_alert_desc_string_long(reason - SSL_AD_REASON_OFFSET));
    }
    const char* text = ERR_reason_error_string(code);
    return text ? util::Format("The server's records were refused: %s.", text) : std::string();
}

// OpenSSL over two memory BIOs: one for the bytes from the server, one for those to it.
class OpenSslEngine : public TlsEngine {
public:
    explicit OpenSslEngine(const ServerIdentityPolicy& policy) : name_(policy.name) {
        pinCheck_.pins = policy.pins;
    }

    // The trust store is the default one (SSL_CERT_FILE and SSL_CERT_DIR move it). A
    // renegotiation would need the reading and the writing thread to take turns in a new
    // handshake; a server's request for one is answered with the no_renegotiation alert.
    bool AcquireCredentials() override {
        context_.reset(SSL_CTX_new(TLS_client_method()));
        if (!context_ || SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION) != 1 ||
            SSL_CTX_set_default_verify_paths(context_.get()) != 1) {
            context_.reset();
            return false;
        }
        SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_options(context_.get(), SSL_OP_NO_RENEGOTIATION);
        if (!pinCheck_.pins.empty()) {
            SSL_CTX_set_cert_verify_callback(context_.get(), VerifyChainAndPins, &pinCheck_);
        }
        return true;
    }

    bool StartSession() override {
        ERR_clear_error();
        ssl_.reset(context_ ? SSL_new(context_.get()) : nullptr);
        if (ssl_ && !RequireName(ssl_.get(), name_)) {
            ssl_.reset();
            failure_ = {0,
                        "The server name \"" + name_ + "\" cannot be checked (VerifyServerName)"};
            return false;
        }
        BIO* fromServer = ssl_ ? BIO_new(BIO_s_mem()) : nullptr;
        BIO* toServer = fromServer ? BIO_new(BIO_s_mem()) : nullptr;
        if (!toServer) {
            BIO_free(fromServer);
            ssl_.reset();
            KeepFailure(ERR_peek_last_error());
            return false;
        }
        SSL_set_bio(ssl_.get(), fromServer, toServer);
        SSL_set_connect_state(ssl_.get());
        fromServer_ = fromServer;
        toServer_ = toServer;
        return true;
    }

    Progress Handshake() override {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_.get());
        if (result == 1) {
            return Progress::kDone;
        }
        if (SSL_get_error(ssl_.get(), result) == SSL_ERROR_WANT_READ) {
            return Progress::kWantInput;
        }
        KeepFailure(ERR_peek_last_error());
        return Progress::kFailed;
    }

    const Failure& LastFailure() const override { return failure_; }

    std::string Refusal() const override {
        if (!pinCheck_.refusal.empty()) {
            return pinCheck_.refusal;
        }
        const long result = ssl_ ? SSL_get_verify_result(ssl_.get()) : X509_V_OK;
        if (result == X509_V_OK) {
            return {};
        }
        std::string text = X509_verify_cert_error_string(result);
        if (result == X509_V_ERR_HOSTNAME_MISMATCH || result == X509_V_ERR_IP_ADDRESS_MISMATCH) {
            text += ": " + NameMismatch(name_);
        }
        return text;
    }

    void Feed(const unsigned char* data, std::size_t size) override {
        BIO_write(fromServer_, data, ClampToInt(size));
    }

    bool HasOutput() const override { return toServer_ && BIO_ctrl_pending(toServer_) > 0; }

    std::vector<unsigned char> TakeOutput() override {
        std::vector<unsigned char> output(toServer_ ? BIO_ctrl_pending(toServer_) : 0);
        if (!output.empty()) {
            BIO_read(toServer_, output.data(), ClampToInt(output.size()));
        }
        return output;
    }

    std::size_t Pending() const override { return BIO_ctrl_pending(fromServer_); }

    std::size_t RecordSize() const override { return SSL3_RT_MAX_PLAIN_LENGTH; }

    bool Seal(const unsigned char* data, std::size_t size) override {
        ERR_clear_error();
        std::size_t written = 0;
        if (size > 0 && SSL_write_ex(ssl_.get(), data, size, &written) != 1) {
            ERR_clear_error();
            return false;
        }
        return true;
    }

    Opened Open(unsigned char* buffer, std::size_t length) override {
        ERR_clear_error();
        Opened opened;
        const int result = SSL_read_ex(ssl_.get(), buffer, length, &opened.count);
        if (result == 1) {
            return opened;
        }
        opened.count = 0;
        const int error = SSL_get_error(ssl_.get(), result);
        if (error != SSL_ERROR_WANT_READ) {
            opened.failed = true;
            opened.why = ReadFailure(error, ERR_peek_last_error());
        }
        ERR_clear_error();
        return opened;
    }

    void CloseNotify() override {
        // Refused, sending nothing, after a fatal alert.
        SSL_shutdown(ssl_.get());
        ERR_clear_error();
    }

private:
    void KeepFailure(unsigned long status) {
        char reason[256] = {};
        ERR_error_string_n(status, reason, sizeof reason);
        failure_ = {status, reason};
    }

    const std::string name_;
    PinCheck pinCheck_;  // used by context_
    SslContext context_;
    std::unique_ptr<SSL, SslDeleter> ssl_;
    BIO* fromServer_ = nullptr;  // owned by ssl_
    BIO* toServer_ = nullptr;    // owned by ssl_
    Failure failure_;
};

}  // namespace

std::unique_ptr<TlsEngine> NewTlsEngine(const ServerIdentityPolicy& policy) {
    return std::make_unique<OpenSslEngine>(policy);
}

}  // namespace ipc
