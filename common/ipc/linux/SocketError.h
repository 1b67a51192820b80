#pragma once

#include <cstdint>

#include "common/ipc/SocketError.h"

namespace ipc {

// The Windows Sockets number for an errno value: 0 for 0, and for a value that has no
// counterpart among the socket errors, kWsaSysCallFailure. LastSocketError maps errno.
std::uint32_t WinsockErrorFromErrno(int errnoValue);

// The Windows Sockets number for a getaddrinfo result (EAI_NONAME gives 11001 and so on);
// EAI_SYSTEM is taken from errno.
std::uint32_t WinsockErrorFromResolver(int resolverError);

}  // namespace ipc
