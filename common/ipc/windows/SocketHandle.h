#pragma once

#include <winsock2.h>

#include "common/lang/Owned.h"

namespace ipc {

// Owns one Winsock socket and closes it when it goes.
using SocketHandle = lang::Owned<lang::ClosedBy<SOCKET, ::closesocket, INVALID_SOCKET>>;

}  // namespace ipc
