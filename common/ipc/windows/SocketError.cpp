#include "common/ipc/SocketError.h"

#include <winsock2.h>

namespace ipc {

std::uint32_t LastSocketError() {
    return static_cast<std::uint32_t>(::WSAGetLastError());
}

}  // namespace ipc
