#pragma once

#include <cstdint>

namespace sys::registry {

// Raises sys::RegistryError from the registry wrapper, whose errors all name it as their
// source.
[[noreturn]] void Raise(const char* message, int line, int value, std::uint32_t systemError);

}  // namespace sys::registry
