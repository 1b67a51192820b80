#pragma once

#include <string>

namespace sys {

// Why a file that carries commands for the agent (a toolbox library, the settings input
// file, the configuration file) must not be used: run as root, the agent would carry out
// whatever anyone who can change the file, or replace it in its folder, put there. Empty
// when the file may be used: the agent does not run as root, the file does not exist (its
// reader reports that), or the file and its folder belong to root and nobody else may write
// to them. Windows has no such check yet: the answer there is always empty.
std::string UntrustedFileReason(const std::string& path);

}  // namespace sys
