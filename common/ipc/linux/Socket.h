#pragma once

#include "common/ipc/SocketIPC.h"
#include "common/sys/linux/FileDescriptor.h"

namespace ipc {

// The socket of a CSocketIPC: one file descriptor.
class CSocketIPC::Socket : public sys::FileDescriptor {};

}  // namespace ipc
