#pragma once

#include <string>
#include <sys/types.h>

#include "common/sys/linux/FileDescriptor.h"
#include "common/util/FileUtils.h"

namespace util {

// Creates the file's folders, replaces any file of that name with a new empty one and
// returns it open for writing. Raises util::CFileIOError on failure.
sys::FileDescriptor CreateNewFile(const std::string& path, mode_t mode = 0644);

}  // namespace util
