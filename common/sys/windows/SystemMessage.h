#pragma once

#include <cstdint>
#include <string>

namespace sys::win {

// The system's text for an error code ("Access is denied."), without its line end, followed
// by the code: "Access is denied. (error 5)".
std::string SystemMessage(std::uint32_t code);

}  // namespace sys::win
