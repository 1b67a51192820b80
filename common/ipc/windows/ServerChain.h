#pragma once

#include "common/ipc/ServerIdentity.h"
#include "common/ipc/TlsEngine.h"
#include "common/ipc/windows/SspiHandles.h"

namespace ipc::win {

// Checks the chain the server presented in the handshake of context with the system's chain
// engine and its SSL policy against the system's root store, as Schannel's own check would,
// then holds it to the policy: the name by the same SSL policy, the pins over the keys of the
// chain. A status of 0 when the server passes; else the reason says why it was refused.
TlsEngine::Failure CheckServerChain(PCtxtHandle context, const ServerIdentityPolicy& policy);

}  // namespace ipc::win
