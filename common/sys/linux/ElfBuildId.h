#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sys {

// The GNU build id of the ELF image loaded at base (the start of its mapping at file offset
// 0), read from memory: copied into out, and its length returned; 0 when the image has none
// or does not read as ELF. Async-signal-safe and safe on any address.
std::size_t ReadElfBuildId(std::uintptr_t base, std::span<std::uint8_t> out) noexcept;

}  // namespace sys
