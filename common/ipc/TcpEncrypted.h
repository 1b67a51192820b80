#pragma once

#include <memory>
#include <string>

#include "common/ipc/Aipc.h"

namespace ipc {

// A transport that runs over another transport, which it owns.
class CTCPEncrypted : public CIPCInterface {
public:
    explicit CTCPEncrypted(std::unique_ptr<CIPCInterface> inner);
    ~CTCPEncrypted() override;

    // Hands the inner transport back, leaving this one without it.
    std::unique_ptr<CIPCInterface> ReleaseInner() noexcept;
    // Why the handshake failed, as its trace tells it (console mode or not); empty when it
    // succeeded.
    virtual const std::string& HandshakeFailure() const = 0;
    // Tells the server that the session ends (close_notify), unless a write is under way,
    // and without waiting for the connection; true when it was sent or handed to the
    // connection.
    virtual bool TryCloseNotify() = 0;

protected:
    std::unique_ptr<CIPCInterface> inner_;
};

}  // namespace ipc
