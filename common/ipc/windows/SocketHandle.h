#pragma once

#include <winsock2.h>

#include "common/util/Owned.h"

namespace ipc {

// Owns one Winsock socket and closes it when it goes.
using SocketHandle = util::Owned<util::ClosedBy<SOCKET, ::closesocket, INVALID_SOCKET>>;

}  // namespace ipc
