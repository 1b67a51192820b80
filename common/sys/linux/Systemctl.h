#pragma once

#include <string>
#include <vector>

namespace sys {

// Runs systemctl with the arguments and gives its exit code; -1 when it could not be run.
// With a relocated root it is never run (-1): tests and trials must not reach the real
// service manager.
int RunSystemctl(const std::vector<std::string>& arguments);

}  // namespace sys
