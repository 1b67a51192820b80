#pragma once

#include <string>

namespace sys {

// 0 when the calling process may enter the folder and read it (or, with write, create
// files in it); the system error otherwise.
int FolderAccessError(const std::string& folder, bool write);

}  // namespace sys
