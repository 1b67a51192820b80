#include "agent/engine/AgentSocket.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "agent/engine/EngineLines.h"
#include "common/err/Errors.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/TcpEncrypted.h"

namespace {

constexpr const char* kSource = "AgentSocket";

// How long a close waits for a write to let go of the connection before it gives up its
// close_notify: a write whose last bytes are already out lets go within it, one to a server
// that stopped reading never does.
constexpr auto kGoodbyeWait = std::chrono::milliseconds(50);

}  // namespace

CAgentSocket::CAgentSocket(std::unique_ptr<ipc::CIPCInterface> transport)
    : transport_(std::move(transport)), plain_(transport_.get()) {}

CAgentSocket::~CAgentSocket() = default;

int CAgentSocket::Connect(const char* resource, int port) {
    return transport_->Connect(resource, port);
}

int CAgentSocket::Disconnect() {
    std::lock_guard lock(plainLock_);
    if (transport_.get() != plain_) {
        // An encrypted transport deletes the plain one under it when it disconnects.
        plain_ = nullptr;
    }
    return transport_->Disconnect();
}

int CAgentSocket::Read(void* buffer, unsigned length, unsigned timeoutMs) {
    std::lock_guard lock(readLock_);
    if (closed_.load()) {
        throw ipc::CIPCError(kSource, "CAgentSocket::Read() - The connection has been closed.",
                             __LINE__, 0, ipc::kWsaShutdown);
    }
    return transport_->Read(buffer, length, timeoutMs);
}

int CAgentSocket::Write(const void* buffer, unsigned length, unsigned timeoutMs) {
    std::lock_guard lock(writeLock_);
    return transport_->Write(buffer, length, timeoutMs);
}

void CAgentSocket::EncryptSocket() {
    std::lock_guard readHold(readLock_);
    std::lock_guard writeHold(writeLock_);
    try {
        std::unique_ptr<ipc::CIPCInterface> encrypted =
            ipc::CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, transport_, identity_);
        transport_ = std::move(encrypted);
        const auto* channel = dynamic_cast<const ipc::CTCPEncrypted*>(transport_.get());
        encrypted_ = channel && channel->HandshakeFailure().empty();
    } catch (const ipc::CIPCError&) {
        throw;
    } catch (...) {
        throw err::CGeneralError(kSource,
                                 "CAgentSocket::EncryptSocket() - Unknown error thrown while "
                                 "attempting to get a new encrypted socket.",
                                 engine::lines::kSocketEncryptFailedUnknown, 0, 0);
    }
}

// An encrypted session ends with the agent's close_notify when no write holds the
// connection; a write under way (to a server that may have stopped reading) is waited for
// only a moment.
void CAgentSocket::SayGoodbye() {
    std::unique_lock write(writeLock_, std::defer_lock);
    const auto deadline = std::chrono::steady_clock::now() + kGoodbyeWait;
    while (!write.try_lock()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (auto* encrypted = dynamic_cast<ipc::CTCPEncrypted*>(transport_.get())) {
        encrypted->TryCloseNotify();
    }
}

std::string CAgentSocket::HandshakeFailure() {
    std::lock_guard lock(writeLock_);
    const auto* encrypted = dynamic_cast<const ipc::CTCPEncrypted*>(transport_.get());
    return encrypted ? encrypted->HandshakeFailure() : std::string();
}

void CAgentSocket::Close() {
    closed_ = true;
    SayGoodbye();
    // Shutting the plain socket wakes a Read blocked in it, also one that an encrypted
    // transport runs on behalf of its own Read.
    std::lock_guard lock(plainLock_);
    if (plain_) {
        plain_->CancelBlockingCall();
    }
}
