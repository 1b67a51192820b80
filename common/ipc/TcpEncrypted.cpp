#include "common/ipc/TcpEncrypted.h"

#include <utility>

namespace ipc {

CTCPEncrypted::CTCPEncrypted(std::unique_ptr<CIPCInterface> inner) : inner_(std::move(inner)) {}

CTCPEncrypted::~CTCPEncrypted() = default;

std::unique_ptr<CIPCInterface> CTCPEncrypted::ReleaseInner() noexcept {
    return std::move(inner_);
}

}  // namespace ipc
