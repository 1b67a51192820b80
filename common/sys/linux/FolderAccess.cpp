#include "common/sys/FolderAccess.h"

#include <unistd.h>

#include <cerrno>

namespace sys {

int FolderAccessError(const std::string& folder, bool write) {
    return ::access(folder.c_str(), (write ? W_OK : R_OK) | X_OK) == 0 ? 0 : errno;
}

}  // namespace sys
