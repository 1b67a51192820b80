#pragma once

#include <unistd.h>

#include "common/lang/Owned.h"

namespace sys {

// Owns one open file descriptor and closes it when it goes.
using FileDescriptor = lang::Owned<lang::ClosedBy<int, ::close, -1>>;

}  // namespace sys
