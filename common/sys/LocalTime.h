#pragma once

#include <ctime>

namespace sys {

// The broken-down local time of a moment, safe to call from any thread.
std::tm LocalTime(std::time_t seconds);

}  // namespace sys
