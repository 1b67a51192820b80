#pragma once

#include <string>

// The unit file that runs the program as the service: a notify service started with the
// system, whose ExecStart is the program path, one blank and the argument text.
std::string UnitText(const std::string& name, const std::string& programPath,
                     const std::string& argumentText);
