#pragma once

#include <cstdint>

namespace lang {

// The system's id of the calling thread, as the log stamps it and a crash dump names it.
std::uint32_t CurrentThreadId();

}  // namespace lang
