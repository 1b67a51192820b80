#include "common/ipc/TlsChannelFactory.h"

#include "common/ipc/TcpSChannel.h"

namespace ipc {

std::unique_ptr<CIPCInterface> OpenTlsChannel(std::unique_ptr<CIPCInterface>& inner,
                                              const ServerIdentityPolicy& policy) {
    auto channel = std::make_unique<CTCPSChannel>(std::move(inner), policy);
    try {
        channel->NegotiateSSL();
    } catch (...) {
        inner = channel->ReleaseInner();
        throw;
    }
    return channel;
}

}  // namespace ipc
