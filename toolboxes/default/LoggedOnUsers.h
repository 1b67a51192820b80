#pragma once

#include <string>
#include <vector>

namespace tbx {

// The names of the users with a session on this computer, each once, sorted; empty when the
// system cannot tell. Safe from several threads at once.
std::vector<std::string> LoggedOnUsers();

}  // namespace tbx
