#pragma once

#include <memory>

#include "common/ipc/Aipc.h"

namespace ipc {

// A transport that runs over another transport, which it owns.
class CTCPEncrypted : public CIPCInterface {
public:
    explicit CTCPEncrypted(std::unique_ptr<CIPCInterface> inner);
    ~CTCPEncrypted() override;

    // Hands the inner transport back, leaving this one without it.
    std::unique_ptr<CIPCInterface> ReleaseInner() noexcept;

protected:
    std::unique_ptr<CIPCInterface> inner_;
};

}  // namespace ipc
