#pragma once

#include <memory>

#include "common/ipc/Aipc.h"

namespace ipc {

// The TLS channel of this build over inner, its handshake run, as CIPCInterface::
// CreateEncrypted gives it out (see there: which errors pass on, and who owns inner after
// each outcome). The channel holds the server to the policy.
std::unique_ptr<CIPCInterface> OpenTlsChannel(std::unique_ptr<CIPCInterface>& inner,
                                              const ServerIdentityPolicy& policy);

}  // namespace ipc
