#pragma once

#include "common/ipc/TlsEngine.h"
#include "common/ipc/windows/SspiHandles.h"

namespace ipc::win {

// Checks the chain the server presented in the handshake of context with the system's chain
// engine and its SSL policy against the system's root store, the verdict Schannel's own
// check gives (the server's name is not checked). A status of 0 when the chain is trusted.
TlsEngine::Failure CheckServerChain(PCtxtHandle context);

}  // namespace ipc::win
