#pragma once

#include <unistd.h>

#include "common/util/Owned.h"

namespace sys {

// Owns one open file descriptor and closes it when it goes.
using FileDescriptor = util::Owned<util::ClosedBy<int, ::close, -1>>;

}  // namespace sys
