#pragma once

#include <string>

namespace sys {

// The full path of the running program's file, or empty when the system cannot tell. A
// program started through a symbolic link reports the file the link points to.
std::string ProgramPath();

// The folder of the running program's file, or empty when the system cannot tell.
std::string ProgramFolder();

}  // namespace sys
