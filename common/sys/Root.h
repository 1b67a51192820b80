#pragma once

#include <string>

namespace sys {

// The folder that holds every system location of the agent: $CORVANE_ROOT, or "/" when the
// variable is unset or empty. Tests and development runs point it at a temporary folder so
// that nothing touches the real system. Read anew on every call. Windows has no relocated
// root: there it is always "/".
std::string RootPath();

// A path below the root, e.g. UnderRoot("etc/corvane/registry.reg"); leading slashes of
// relative are ignored, so the result never has a doubled separator.
std::string UnderRoot(const std::string& relative);

// True when CORVANE_ROOT moves the system locations away from "/".
bool IsRootRelocated();

}  // namespace sys
