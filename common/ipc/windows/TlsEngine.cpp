#include "common/ipc/TlsEngine.h"

// clang-format off
#include "common/ipc/windows/SspiHandles.h"
#include <schannel.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/ipc/windows/SchannelCredentials.h"
#include "common/ipc/windows/ServerChain.h"
#include "common/sys/windows/SystemMessage.h"
#include "common/util/StringUtils.h"

namespace ipc {
namespace {

// The server's chain, name and keys are checked by CheckServerChain, not by the package:
// under manual validation, with no server name check and no target name, Schannel checks
// neither the chain nor the name.
constexpr ULONG kRequirements = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

std::string StatusText(SECURITY_STATUS status) {
    return sys::win::SystemMessage(static_cast<std::uint32_t>(status));
}

// A buffer descriptor over buffers.
template <std::size_t N>
SecBufferDesc Describe(SecBuffer (&buffers)[N]) {
    return {SECBUFFER_VERSION, N, buffers};
}

// Schannel through SSPI. The package reads and writes only the buffers it is handed; the
// bytes from the server wait in input_ until they make a whole message, those for the
// server in output_.
class SchannelEngine : public TlsEngine {
public:
    explicit SchannelEngine(ServerIdentityPolicy policy) : policy_(std::move(policy)) {}

    bool AcquireCredentials() override {
        char package[] = SCHANNEL_NAME_A;
        const SECURITY_STATUS status = win::AcquireWithSystemDefaults([&](void* settings) {
            TimeStamp expiry{};
            const SECURITY_STATUS made = ::AcquireCredentialsHandleA(
                nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, settings, nullptr, nullptr,
                credentials_.Put(), &expiry);
            credentials_.Keep(made == SEC_E_OK);
            return made;
        });
        if (status != SEC_E_OK) {
            KeepFailure(status);
        }
        return status == SEC_E_OK;
    }

    // The session starts with the first InitializeSecurityContextA, in Handshake.
    bool StartSession() override { return static_cast<bool>(credentials_); }

    Progress Handshake() override {
        if (!context_) {
            return FirstStep();
        }
        bool retried = false;
        while (!input_.empty()) {
            SecBuffer in[] = {{Size(input_), SECBUFFER_TOKEN, input_.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDescription = Describe(in);
            const SECURITY_STATUS status = Step(&inDescription);
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                return Progress::kWantInput;
            }
            // The server asked for a client certificate: the call again goes on without one.
            if (status == SEC_I_INCOMPLETE_CREDENTIALS && !std::exchange(retried, true)) {
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
                KeepFailure(status);
                return Progress::kFailed;
            }
            KeepExtra(in[1]);
            if (status == SEC_E_OK) {
                return Finish();
            }
        }
        return Progress::kWantInput;
    }

    std::string Refusal() const override { return refusal_; }

    const Failure& LastFailure() const override { return failure_; }

    void Feed(const unsigned char* data, std::size_t size) override {
        input_.insert(input_.end(), data, data + size);
    }

    bool HasOutput() const override { return !output_.empty(); }

    std::vector<unsigned char> TakeOutput() override { return std::exchange(output_, {}); }

    std::size_t Pending() const override { return input_.size() + plain_.size(); }

    std::size_t RecordSize() const override { return sizes_.cbMaximumMessage; }

    bool Seal(const unsigned char* data, std::size_t size) override {
        if (size == 0) {
            return true;
        }
        if (ended_.failed || closing_ || size > sizes_.cbMaximumMessage) {
            return false;
        }
        std::vector<unsigned char> record(sizes_.cbHeader + size + sizes_.cbTrailer);
        unsigned char* const body = record.data() + sizes_.cbHeader;
        std::memcpy(body, data, size);
        SecBuffer buffers[] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                               {static_cast<ULONG>(size), SECBUFFER_DATA, body},
                               {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, body + size},
                               {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description = Describe(buffers);
        if (FAILED(::EncryptMessage(context_.Get(), 0, &description, 0))) {
            return false;
        }
        const std::size_t length = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        output_.insert(output_.end(), record.data(), record.data() + length);
        return true;
    }

    Opened Open(unsigned char* buffer, std::size_t length) override {
        while (plain_.empty() && !ended_.failed && DecryptRecord()) {
        }
        if (plain_.empty()) {
            return ended_;
        }
        Opened opened;
        opened.count = std::min(length, plain_.size());
        std::memcpy(buffer, plain_.data(), opened.count);
        plain_.erase(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(opened.count));
        return opened;
    }

    // Nothing after a fatal error or the server's own close_notify.
    void CloseNotify() override {
        if (!context_ || ended_.failed || std::exchange(closing_, true)) {
            return;
        }
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer token[] = {{sizeof type, SECBUFFER_TOKEN, &type}};
        SecBufferDesc description = Describe(token);
        if (::ApplyControlToken(context_.Get(), &description) == SEC_E_OK) {
            Step(nullptr);
        }
    }

private:
    static ULONG Size(const std::vector<unsigned char>& bytes) {
        return static_cast<ULONG>(bytes.size());
    }

    Progress FirstStep() {
        SecBuffer out[] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDescription = Describe(out);
        ULONG attributes = 0;
        const SECURITY_STATUS status = ::InitializeSecurityContextA(
            credentials_.Get(), nullptr, nullptr, kRequirements, 0, SECURITY_NATIVE_DREP, nullptr,
            0, context_.Put(), &outDescription, &attributes, nullptr);
        TakeToken(out[0]);
        context_.Keep(status == SEC_I_CONTINUE_NEEDED);
        if (status != SEC_I_CONTINUE_NEEDED) {
            KeepFailure(status);
            return Progress::kFailed;
        }
        return Progress::kWantInput;
    }

    // One InitializeSecurityContextA on the session; its token (a handshake message, an
    // alert, close_notify) goes to the output.
    SECURITY_STATUS Step(SecBufferDesc* input) {
        SecBuffer out[] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDescription = Describe(out);
        ULONG attributes = 0;
        const SECURITY_STATUS status = ::InitializeSecurityContextA(
            credentials_.Get(), context_.Get(), nullptr, kRequirements, 0, SECURITY_NATIVE_DREP,
            input, 0, nullptr, &outDescription, &attributes, nullptr);
        TakeToken(out[0]);
        return status;
    }

    void TakeToken(const SecBuffer& token) {
        const win::ContextBuffer owned(token.pvBuffer);
        if (owned && token.cbBuffer > 0) {
            const auto* bytes = static_cast<const unsigned char*>(token.pvBuffer);
            output_.insert(output_.end(), bytes, bytes + token.cbBuffer);
        }
    }

    // Keeps the bytes that the package did not take (the start of the next message), which
    // are the last ones of the input.
    void KeepExtra(const SecBuffer& extra) {
        const std::size_t count = extra.BufferType == SECBUFFER_EXTRA ? extra.cbBuffer : 0;
        input_.erase(input_.begin(), input_.end() - static_cast<std::ptrdiff_t>(count));
    }

    Progress Finish() {
        if (const SECURITY_STATUS status =
                ::QueryContextAttributesA(context_.Get(), SECPKG_ATTR_STREAM_SIZES, &sizes_);
            status != SEC_E_OK) {
            KeepFailure(status);
            return Progress::kFailed;
        }
        SecPkgContext_ConnectionInfo connection{};
        tls13_ = ::QueryContextAttributesA(context_.Get(), SECPKG_ATTR_CONNECTION_INFO,
                                           &connection) == SEC_E_OK &&
                 (connection.dwProtocol & SP_PROT_TLS1_3_CLIENT) != 0;
        const Failure verdict = win::CheckServerChain(context_.Get(), policy_);
        if (verdict.status == 0) {
            return Progress::kDone;
        }
        failure_ = {verdict.status, "certificate verify failed"};
        refusal_ = verdict.reason;
        SendAlert(TLS1_ALERT_BAD_CERTIFICATE);
        ended_ = {0, true, "The server's certificate was refused."};
        return Progress::kFailed;
    }

    // Tells the server why the session ends, where the package can.
    void SendAlert(DWORD alert) {
        SCHANNEL_ALERT_TOKEN token{SCHANNEL_ALERT, TLS1_ALERT_FATAL, alert};
        SecBuffer buffer[] = {{sizeof token, SECBUFFER_TOKEN, &token}};
        SecBufferDesc description = Describe(buffer);
        if (::ApplyControlToken(context_.Get(), &description) == SEC_E_OK) {
            Step(nullptr);
        }
    }

    // Decrypts the first record of the input into plain_; false while it is not whole.
    bool DecryptRecord() {
        if (input_.empty()) {
            return false;
        }
        if (postHandshake_) {
            return PostHandshakeStep();
        }
        SecBuffer buffers[] = {{Size(input_), SECBUFFER_DATA, input_.data()},
                               {0, SECBUFFER_EMPTY, nullptr},
                               {0, SECBUFFER_EMPTY, nullptr},
                               {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description = Describe(buffers);
        const SECURITY_STATUS status = ::DecryptMessage(context_.Get(), &description, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            return false;
        }
        // A TLS 1.3 session ticket or key update; TLS 1.2's renegotiation stays refused.
        const bool postHandshake = status == SEC_I_RENEGOTIATE && tls13_;
        if (status != SEC_E_OK && !postHandshake) {
            End(status);
            return false;
        }
        std::size_t extra = 0;
        for (const SecBuffer& buffer : buffers) {
            const auto* bytes = static_cast<const unsigned char*>(buffer.pvBuffer);
            if (buffer.BufferType == SECBUFFER_DATA) {
                plain_.insert(plain_.end(), bytes, bytes + buffer.cbBuffer);
            } else if (buffer.BufferType == SECBUFFER_EXTRA) {
                extra = buffer.cbBuffer;
            }
        }
        input_.erase(input_.begin(), input_.end() - static_cast<std::ptrdiff_t>(extra));
        return !postHandshake || PostHandshakeStep();
    }

    // The package takes a post-handshake message, and what follows it, through the handshake
    // call, as it documents: its answer (a key update of our own) goes to the output. True
    // once the records that follow can be decrypted again.
    bool PostHandshakeStep() {
        SecBuffer in[] = {{Size(input_), SECBUFFER_TOKEN, input_.data()},
                          {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDescription = Describe(in);
        const SECURITY_STATUS status = Step(&inDescription);
        postHandshake_ = status != SEC_E_OK;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            return false;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
            End(status);
            return false;
        }
        KeepExtra(in[1]);
        return status == SEC_E_OK;
    }

    // The session is over: every later Open says why.
    void End(SECURITY_STATUS status) {
        ended_.failed = true;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            ended_.why = "The server closed the session (close_notify).";
        } else if (status == SEC_I_RENEGOTIATE) {
            // The reading and the writing thread would have to take turns in a new handshake.
            ended_.why = "The server asked for a new handshake, which this client refuses.";
        } else {
            ended_.why =
                util::Format("The server's records were refused: %s.", StatusText(status).c_str());
        }
    }

    void KeepFailure(SECURITY_STATUS status) {
        failure_ = {static_cast<unsigned long>(status), StatusText(status)};
    }

    win::Credentials credentials_;
    win::SecurityContext context_;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<unsigned char> input_;   // from the server, not yet taken by the package
    std::vector<unsigned char> plain_;   // decrypted, not yet delivered
    std::vector<unsigned char> output_;  // for the server
    const ServerIdentityPolicy policy_;
    Failure failure_;
    std::string refusal_;  // why the server's certificate was refused
    Opened ended_;         // failed once the session is over
    bool closing_ = false;
    bool tls13_ = false;          // the session's protocol, known after the handshake
    bool postHandshake_ = false;  // the package is taking a post-handshake message
};

}  // namespace

std::unique_ptr<TlsEngine> NewTlsEngine(const ServerIdentityPolicy& policy) {
    return std::make_unique<SchannelEngine>(policy);
}

}  // namespace ipc
