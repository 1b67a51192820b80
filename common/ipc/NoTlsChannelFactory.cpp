#include "common/err/Errors.h"
#include "common/ipc/TlsChannelFactory.h"

namespace ipc {

// The agent's switch to encryption fails as it does when a handshake raises: it logs this
// error, and the session goes on unencrypted.
std::unique_ptr<CIPCInterface> OpenTlsChannel(std::unique_ptr<CIPCInterface>&,
                                              const ServerIdentityPolicy&) {
    throw CIPCError("common\\ipc\\NoTlsChannelFactory",
                    "CIPCInterface::CreateEncrypted() - This build of the agent has no TLS "
                    "channel.",
                    __LINE__, 0, 0);
}

}  // namespace ipc
