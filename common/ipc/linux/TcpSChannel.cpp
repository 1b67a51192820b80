#include "common/ipc/TcpSChannel.h"

#include <algorithm>
#include <climits>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <optional>

#include "common/err/Errors.h"
#include "common/ipc/Deadline.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/SocketIPC.h"
#include "common/lang/Event.h"
#include "common/util/Console.h"
#include "common/util/StringUtils.h"

namespace ipc {
namespace {

constexpr const char* kSource = "common\\ipc\\TcpSChannel";
// Bytes taken from the inner transport per read: room for several whole records.
constexpr std::size_t kReceiveSize = 0x10000;
// The plaintext of one record.
constexpr std::size_t kRecordSize = SSL3_RT_MAX_PLAIN_LENGTH;
constexpr int kTimedOut = 1;

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

// The client settings: TLS 1.2 or newer, the server's chain checked against the default
// trust store (and its keys against the pins, when there are any), no client certificate.
// Null when OpenSSL cannot provide it. A renegotiation would need the reading and the writing
// thread to take turns in a new handshake; a server's request for one is answered with the
// no_renegotiation alert.
SslContext NewClientContext(PinCheck& pins) {
    SslContext context(SSL_CTX_new(TLS_client_method()));
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(context.get()) != 1) {
        return nullptr;
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION);
    if (!pins.pins.empty()) {
        SSL_CTX_set_cert_verify_callback(context.get(), VerifyChainAndPins, &pins);
    }
    return context;
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

[[noreturn]] void RaiseConnectRefused(int line) {
    throw CIPCError(kSource,
                    "CTCPSChannel::Connect() - This method cannot be called on a CTCPSChannel "
                    "object.",
                    line, 0, 0);
}

[[noreturn]] void RaiseEncryptError() {
    throw CIPCError(kSource, "CTCPSChannel::Encrypt() - Error encrypting message.", 161, 0, 0);
}

// why, when known, follows the message: the server's close_notify or alert, or what was wrong
// with its records.
[[noreturn]] void RaiseDecryptError(const std::string& why = "") {
    const std::string message = "CTCPSChannel::Decrypt() - Error decrypting message.";
    throw CIPCError(kSource, why.empty() ? message : message + " " + why, 207, 0, 0);
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

}  // namespace

// OpenSSL's client settings and session, with the two memory buffers that carry its bytes
// to and from the inner transport.
struct CTCPSChannel::Engine {
    PinCheck pinCheck;   // used by context
    SslContext context;  // made by NegotiateSSL
    std::unique_ptr<SSL, SslDeleter> ssl;
    BIO* fromServer = nullptr;  // owned by ssl
    BIO* toServer = nullptr;    // owned by ssl
};

void CTCPSChannel::EngineDeleter::operator()(Engine* engine) const {
    delete engine;
}

CTCPSChannel::CTCPSChannel(std::unique_ptr<CIPCInterface> inner, ServerIdentityPolicy policy)
    : CTCPEncrypted(std::move(inner)),
      engine_(new Engine),
      policy_(std::move(policy)),
      received_(kReceiveSize) {
    engine_->pinCheck.pins = policy_.pins;
}

CTCPSChannel::~CTCPSChannel() = default;

int CTCPSChannel::Connect(const char*, int) {
    RaiseConnectRefused(226);
}

int CTCPSChannel::Connect(const char*, const char*) {
    RaiseConnectRefused(242);
}

const std::string& CTCPSChannel::HandshakeFailure() const {
    return handshakeFailure_;
}

void CTCPSChannel::Fail(const std::string& text) {
    util::ConsolePrintf("**** %s\n", text.c_str());
    handshakeFailure_ += (handshakeFailure_.empty() ? "" : ": ") + text;
}

void CTCPSChannel::FailWithStatus(int step, unsigned long status) {
    Fail(step == 1 ? util::Format("Error %d returned by InitializeSecurityContext (1)",
                                  static_cast<int>(status))
                   : util::Format("Error 0x%x returned by InitializeSecurityContext (2)",
                                  static_cast<unsigned>(status)));
    char reason[256] = {};
    ERR_error_string_n(status, reason, sizeof reason);
    Fail(reason);
}

void CTCPSChannel::ReportRefusedServer() {
    std::lock_guard lock(sslMutex_);
    if (!engine_->pinCheck.refusal.empty()) {
        Fail(engine_->pinCheck.refusal);
        return;
    }
    const long result = SSL_get_verify_result(engine_->ssl.get());
    if (result == X509_V_OK) {
        return;
    }
    std::string text = X509_verify_cert_error_string(result);
    if (result == X509_V_ERR_HOSTNAME_MISMATCH || result == X509_V_ERR_IP_ADDRESS_MISMATCH) {
        text += ": the certificate is not for " + policy_.name + " (VerifyServerName)";
    }
    Fail(text);
}

int CTCPSChannel::Disconnect() {
    std::scoped_lock lock(readMutex_, writeMutex_);
    if (!inner_) {
        return 0;
    }
    if (established_) {
        SendCloseNotify();
    }
    const int result = inner_->Disconnect();
    inner_.reset();
    return result;
}

bool CTCPSChannel::TryCloseNotify() {
    const std::unique_lock lock(writeMutex_, std::try_to_lock);
    if (!lock || !inner_ || !established_) {
        return false;
    }
    SendCloseNotify();
    return true;
}

void CTCPSChannel::SendCloseNotify() {
    {
        std::lock_guard lock(sslMutex_);
        // Refused, sending nothing, after a fatal alert.
        SSL_shutdown(engine_->ssl.get());
        ERR_clear_error();
    }
    // Ending a session never waits for a server that does not read.
    SendWhatFitsNow();
}

void CTCPSChannel::NegotiateSSL() {
    try {
        std::scoped_lock lock(readMutex_, writeMutex_);
        engine_->context = NewClientContext(engine_->pinCheck);
        util::ConsolePrintf(engine_->context ? "SEC_E_OK\n"
                                             : "Error getting credentials handle.\n");
        if (inner_ && StartSession()) {
            Handshake();
        }
    } catch (const CIPCError& error) {
        throw CIPCError(error);
    } catch (...) {
        throw err::CGeneralError(
            kSource, "CTCPSChannel::NegotiateSSL() - Unknown error performing handshake.", 308, 0,
            err::LastSystemError());
    }
}

bool CTCPSChannel::StartSession() {
    SSL_CTX* const context = engine_->context.get();
    std::lock_guard lock(sslMutex_);
    ERR_clear_error();
    engine_->ssl.reset(context ? SSL_new(context) : nullptr);
    if (engine_->ssl && !RequireName(engine_->ssl.get(), policy_.name)) {
        engine_->ssl.reset();
        Fail("The server name \"" + policy_.name + "\" cannot be checked (VerifyServerName)");
        return false;
    }
    BIO* fromServer = engine_->ssl ? BIO_new(BIO_s_mem()) : nullptr;
    BIO* toServer = fromServer ? BIO_new(BIO_s_mem()) : nullptr;
    if (!toServer) {
        BIO_free(fromServer);
        engine_->ssl.reset();
        FailWithStatus(1, ERR_peek_last_error());
        return false;
    }
    SSL_set_bio(engine_->ssl.get(), fromServer, toServer);
    SSL_set_connect_state(engine_->ssl.get());
    engine_->fromServer = fromServer;
    engine_->toServer = toServer;
    return true;
}

void CTCPSChannel::Handshake() {
    for (int step = 1;; step = 2) {
        int result;
        int error;
        unsigned long status;
        {
            std::lock_guard lock(sslMutex_);
            ERR_clear_error();
            result = SSL_do_handshake(engine_->ssl.get());
            error = SSL_get_error(engine_->ssl.get(), result);
            status = ERR_peek_last_error();
        }
        // Sent also after a failure: it carries the alert that tells the server why.
        if (!SendHandshakeOutput(step)) {
            return;
        }
        if (result == 1) {
            std::lock_guard lock(sslMutex_);
            established_ = true;
            util::ConsolePrintf("Handshake was successful\n");
            if (const auto bundled = BIO_ctrl_pending(engine_->fromServer); bundled > 0) {
                util::ConsolePrintf("%d bytes of app data was bundled with handshake data\n",
                                    ClampToInt(bundled));
            }
            return;
        }
        if (error != SSL_ERROR_WANT_READ) {
            FailWithStatus(step, status);
            ReportRefusedServer();
            return;
        }
        if (!ReceiveHandshakeInput()) {
            return;
        }
    }
}

bool CTCPSChannel::SendHandshakeOutput(int step) {
    const std::vector<unsigned char> output = TakeOutput();
    if (output.empty()) {
        return true;
    }
    unsent_.insert(unsent_.end(), output.begin(), output.end());
    SendUnsent(Deadline(lang::kInfinite));
    if (!unsent_.empty()) {
        Fail(util::Format("Error %d sending data to server (%d)",
                          static_cast<int>(LastSocketError()), step));
        return false;
    }
    util::ConsolePrintf("%d bytes of handshake data sent\n", ClampToInt(output.size()));
    return true;
}

bool CTCPSChannel::ReceiveHandshakeInput() {
    const int received = Receive(lang::kInfinite);
    if (received < 0) {
        Fail(
            util::Format("Error %d reading data from server", static_cast<int>(LastSocketError())));
        return false;
    }
    if (received == 0) {
        Fail("Server unexpectedly disconnected");
        return false;
    }
    util::ConsolePrintf("%d bytes of handshake data received\n", received);
    return true;
}

bool CTCPSChannel::HasSession() const {
    return established_ && inner_;
}

int CTCPSChannel::Receive(unsigned timeoutMs) {
    const int received = inner_->Read(received_.data(), ClampToInt(received_.size()), timeoutMs);
    if (received > 0) {
        std::lock_guard lock(sslMutex_);
        BIO_write(engine_->fromServer, received_.data(), received);
    }
    return received;
}

bool CTCPSChannel::HasOutput() {
    std::lock_guard lock(sslMutex_);
    return BIO_ctrl_pending(engine_->toServer) > 0;
}

std::vector<unsigned char> CTCPSChannel::TakeOutput() {
    std::lock_guard lock(sslMutex_);
    std::vector<unsigned char> output(BIO_ctrl_pending(engine_->toServer));
    if (!output.empty()) {
        BIO_read(engine_->toServer, output.data(), ClampToInt(output.size()));
    }
    return output;
}

void CTCPSChannel::AwaitRoom(const Deadline& deadline) const {
    const auto* socket = dynamic_cast<const CSocketIPC*>(inner_.get());
    if (socket && !socket->IsReadyWithin(CSocketIPC::WaitMode::Write, deadline)) {
        throw CIPCError(kSource, "CTCPSChannel::Write() - Timed out waiting to send.", __LINE__,
                        kTimedOut, kWsaTimedOut);
    }
}

void CTCPSChannel::SendUnsent(const Deadline& deadline) {
    while (!unsent_.empty()) {
        const int count =
            inner_->Write(unsent_.data(), ClampToInt(unsent_.size()), deadline.LeftMs());
        if (count <= 0) {
            return;
        }
        unsent_.erase(unsent_.begin(), unsent_.begin() + count);
    }
}

void CTCPSChannel::SendWhatFitsNow() {
    const std::vector<unsigned char> output = TakeOutput();
    unsent_.insert(unsent_.end(), output.begin(), output.end());
    try {
        SendUnsent(Deadline(0));
    } catch (const CIPCError&) {
        // What is left stays for the next Write or Read, which meets the error again.
    }
}

std::vector<unsigned char> CTCPSChannel::Encrypt(const void* data, unsigned length) {
    {
        std::lock_guard lock(sslMutex_);
        if (!HasSession()) {
            RaiseEncryptError();
        }
        ERR_clear_error();
        std::size_t written = 0;
        if (length > 0 && SSL_write_ex(engine_->ssl.get(), data, length, &written) != 1) {
            ERR_clear_error();
            RaiseEncryptError();
        }
    }
    return TakeOutput();
}

std::size_t CTCPSChannel::CommitRecord(const unsigned char* data, std::size_t size,
                                       const Deadline& deadline) {
    AwaitRoom(deadline);
    util::ConsolePrintf("*******************************CALLING CTCPSChannel Encrypt!!!!!\n");
    const std::vector<unsigned char> records = Encrypt(data, static_cast<unsigned>(size));
    util::ConsolePrintf("*******************************CALLING CTCPSChannel Write!!!!!\n");
    unsent_.insert(unsent_.end(), records.begin(), records.end());
    return size;
}

int CTCPSChannel::Write(const void* buffer, unsigned length, unsigned timeoutMs) {
    std::lock_guard lock(writeMutex_);
    if (!HasSession()) {
        RaiseEncryptError();
    }
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    const auto total = static_cast<std::size_t>(ClampToInt(length));
    const Deadline deadline(timeoutMs);
    std::size_t committed = 0;
    try {
        // The rest of a record an earlier Write made goes first.
        SendUnsent(deadline);
        while (committed < total && unsent_.empty()) {
            committed +=
                CommitRecord(bytes + committed, std::min(total - committed, kRecordSize), deadline);
            SendUnsent(deadline);
        }
    } catch (const CIPCError& error) {
        if (error.Value() != kTimedOut || committed == 0) {
            throw;
        }
    }
    return ClampToInt(committed);
}

unsigned CTCPSChannel::Decrypt(void* buffer, unsigned length) {
    std::lock_guard lock(sslMutex_);
    if (!HasSession()) {
        RaiseDecryptError();
    }
    ERR_clear_error();
    std::size_t read = 0;
    const int result = SSL_read_ex(engine_->ssl.get(), buffer, length, &read);
    if (result == 1) {
        return static_cast<unsigned>(read);
    }
    const int error = SSL_get_error(engine_->ssl.get(), result);
    if (error == SSL_ERROR_WANT_READ) {
        return 0;
    }
    const std::string why = ReadFailure(error, ERR_peek_last_error());
    ERR_clear_error();
    RaiseDecryptError(why);
}

int CTCPSChannel::Read(void* buffer, unsigned length, unsigned timeoutMs) {
    if (length == 0) {
        return 0;
    }
    std::lock_guard lock(readMutex_);
    const unsigned capped = static_cast<unsigned>(ClampToInt(length));
    const Deadline deadline(timeoutMs);
    for (;;) {
        util::ConsolePrintf("*******************************CALLING CTCPSChannel Decrypt!!!!!\n");
        const unsigned read = Decrypt(buffer, capped);
        // The server may be waiting for the engine's answer (the refusal of a renegotiation,
        // a key update), so it does not wait for the next Write.
        if (HasOutput()) {
            std::lock_guard writeLock(writeMutex_);
            SendWhatFitsNow();
        }
        if (read > 0) {
            return static_cast<int>(read);
        }
        util::ConsolePrintf("*******************************CALLING CTCPSChannel Read!!!!!\n");
        if (Receive(deadline.LeftMs()) <= 0) {
            RaiseDecryptError();
        }
    }
}

}  // namespace ipc
