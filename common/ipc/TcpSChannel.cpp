#include "common/ipc/TcpSChannel.h"

#include <algorithm>
#include <climits>

#include "common/err/Errors.h"
#include "common/ipc/Deadline.h"
#include "common/ipc/IpcLines.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/SocketIPC.h"
#include "common/ipc/TlsEngine.h"
#include "common/lang/Event.h"
#include "common/util/Console.h"
#include "common/util/StringUtils.h"

namespace ipc {
namespace {

constexpr const char* kSource = "common\\ipc\\TcpSChannel";
// Bytes taken from the inner transport per read: room for several whole records.
constexpr std::size_t kReceiveSize = 0x10000;

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
    throw CIPCError(kSource, "CTCPSChannel::Encrypt() - Error encrypting message.",
                    lines::kEncryptFailed, kIpcFailed, 0);
}

// why, when known, follows the message: the server's close_notify or alert, or what was wrong
// with its records.
[[noreturn]] void RaiseDecryptError(const std::string& why = "") {
    const std::string message = "CTCPSChannel::Decrypt() - Error decrypting message.";
    throw CIPCError(kSource, why.empty() ? message : message + " " + why, lines::kDecryptFailed,
                    kIpcFailed, 0);
}

}  // namespace

CTCPSChannel::CTCPSChannel(std::unique_ptr<CIPCInterface> inner, const ServerIdentityPolicy& policy)
    : CTCPEncrypted(std::move(inner)), engine_(NewTlsEngine(policy)), received_(kReceiveSize) {}

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

void CTCPSChannel::FailWithStatus(int step) {
    const TlsEngine::Failure& failure = engine_->LastFailure();
    Fail(step == 1 ? util::Format("Error %d returned by InitializeSecurityContext (1)",
                                  static_cast<int>(failure.status))
                   : util::Format("Error 0x%x returned by InitializeSecurityContext (2)",
                                  static_cast<unsigned>(failure.status)));
    Fail(failure.reason);
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
        engine_->CloseNotify();
    }
    // Ending a session never waits for a server that does not read.
    SendWhatFitsNow();
}

void CTCPSChannel::NegotiateSSL() {
    try {
        std::scoped_lock lock(readMutex_, writeMutex_);
        util::ConsolePrintf(engine_->AcquireCredentials() ? "SEC_E_OK\n"
                                                          : "Error getting credentials handle.\n");
        if (inner_ && StartSession()) {
            Handshake();
        }
    } catch (const CIPCError& error) {
        throw CIPCError(error);
    } catch (...) {
        throw err::CGeneralError(
            kSource, "CTCPSChannel::NegotiateSSL() - Unknown error performing handshake.",
            lines::kHandshakeFailedUnknown, kIpcFailed, err::LastSystemError());
    }
}

bool CTCPSChannel::StartSession() {
    std::lock_guard lock(sslMutex_);
    if (!engine_->StartSession()) {
        FailWithStatus(1);
        return false;
    }
    return true;
}

void CTCPSChannel::Handshake() {
    for (int step = 1;; step = 2) {
        TlsEngine::Progress progress;
        {
            std::lock_guard lock(sslMutex_);
            progress = engine_->Handshake();
        }
        // Sent also after a failure: it carries the alert that tells the server why.
        if (!SendHandshakeOutput(step)) {
            return;
        }
        if (progress == TlsEngine::Progress::kDone) {
            std::lock_guard lock(sslMutex_);
            established_ = true;
            util::ConsolePrintf("Handshake was successful\n");
            if (const std::size_t bundled = engine_->Pending(); bundled > 0) {
                util::ConsolePrintf("%d bytes of app data was bundled with handshake data\n",
                                    ClampToInt(bundled));
            }
            return;
        }
        if (progress == TlsEngine::Progress::kFailed) {
            FailWithStatus(step);
            if (const std::string why = engine_->Refusal(); !why.empty()) {
                Fail(why);
            }
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
        engine_->Feed(received_.data(), static_cast<std::size_t>(received));
    }
    return received;
}

bool CTCPSChannel::HasOutput() {
    std::lock_guard lock(sslMutex_);
    return engine_->HasOutput();
}

std::vector<unsigned char> CTCPSChannel::TakeOutput() {
    std::lock_guard lock(sslMutex_);
    return engine_->TakeOutput();
}

void CTCPSChannel::AwaitRoom(const Deadline& deadline) const {
    const auto* socket = dynamic_cast<const CSocketIPC*>(inner_.get());
    if (socket && !socket->IsReadyWithin(CSocketIPC::WaitMode::Write, deadline)) {
        throw CIPCError(kSource, "CTCPSChannel::Write() - Timed out waiting to send.", __LINE__,
                        kIpcTimedOut, kWsaTimedOut);
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
        if (!engine_->Seal(static_cast<const unsigned char*>(data), length)) {
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
            committed += CommitRecord(bytes + committed,
                                      std::min(total - committed, engine_->RecordSize()), deadline);
            SendUnsent(deadline);
        }
    } catch (const CIPCError& error) {
        if (error.Value() != kIpcTimedOut || committed == 0) {
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
    const TlsEngine::Opened opened = engine_->Open(static_cast<unsigned char*>(buffer), length);
    if (opened.failed) {
        RaiseDecryptError(opened.why);
    }
    return static_cast<unsigned>(opened.count);
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
