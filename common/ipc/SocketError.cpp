#include "common/ipc/SocketError.h"

namespace ipc {

bool IsConnectionLost(std::uint32_t code) {
    return code == kWsaNetReset || code == kWsaConnAborted || code == kWsaConnReset ||
           code == kWsaShutdown || code == kWsaDisconnected;
}

}  // namespace ipc
