#pragma once

#include <string>

namespace tbxtest {

// The path of a test toolbox library built beside the test program, e.g. Toolbox("testtbx_next").
std::string Toolbox(const std::string& name);

// True when the library at the path is in the process's memory now.
bool IsLoaded(const std::string& path);

// Puts a copy of the library at the destination the way a careful installer does: written
// beside it, then renamed over it, so a process that has the old file mapped keeps it.
void InstallLibrary(const std::string& source, const std::string& destination);

}  // namespace tbxtest
