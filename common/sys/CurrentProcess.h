#pragma once

#include <cstdint>

namespace sys {

// The system's ids of the running process and of the calling thread, as the log stamps them.
std::uint32_t CurrentProcessId();
std::uint32_t CurrentThreadId();

}  // namespace sys
