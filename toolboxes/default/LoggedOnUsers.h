#pragma once

#include <string>
#include <vector>

namespace tbx {

// The utmp file this agent watches: $CORVANE_ROOT/run/utmp under a relocated root, else the
// system's.
std::string UtmpPath();

// The names of the users with a session in the utmp file, each once, sorted; empty when the
// file cannot be read. The file is read directly rather than through getutent, which keeps
// its position in one process-wide place and so cannot serve several threads at once.
std::vector<std::string> LoggedOnUsers(const std::string& utmpPath);

}  // namespace tbx
