#pragma once

#include <cstdint>
#include <functional>

namespace sys {

// The call that restarts the machine: takes the force flag and returns 0 or the system
// error code.
using RestartCall = std::function<std::uint32_t(bool force)>;

// Restarts this machine at once; with force, programs are not asked to close first.
// Returns 0 when the restart has begun, else the system error code. With a relocated root
// (CORVANE_ROOT set, Linux only) the machine is never restarted: the request is written to
// <root>/run/corvane/reboot-requested as one line, "force=1" or "force=0".
std::uint32_t Reboot(bool force);

// Replaces the call that Reboot makes when the root is not relocated and returns the one it
// replaces. Tests install a recorder here so that nothing they run can restart the machine.
RestartCall SetRestartCall(RestartCall call);

}  // namespace sys
