#pragma once

#include <cstdint>

namespace sys {

// The system's own restart of this machine, which Reboot calls unless a test has put another
// call in its place (SetRestartCall). Each platform has its own.
std::uint32_t RestartMachine(bool force);

}  // namespace sys
