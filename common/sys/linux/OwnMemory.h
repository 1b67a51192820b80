#pragma once

#include <cstddef>
#include <cstdint>

namespace sys {

// Copies size bytes at address of this process's own memory into out. Memory that is not
// mapped or not readable makes it return false instead of faulting, so a crash handler can
// follow pointers it cannot trust. Async-signal-safe.
bool ReadOwnMemory(std::uintptr_t address, void* out, std::size_t size) noexcept;

}  // namespace sys
