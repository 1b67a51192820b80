#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

#include "common/sys/linux/FileDescriptor.h"

namespace util {

// True when the path names something that exists and is not a folder.
bool FileExists(const std::string& path);
// Deletes a file; raises util::CFileIOError when it is missing or cannot be deleted.
bool DeleteFile(const std::string& path);
// Creates every folder along the path's "/" separators; the part after the last one is
// taken as a file name and not created. A path in double quotes is taken without them.
bool CreateDirectoryPath(const std::string& path);
// Creates the file's folders, replaces any file of that name with a new empty one and
// returns it open for writing. Raises util::CFileIOError on failure.
sys::FileDescriptor CreateNewFile(const std::string& path, mode_t mode = 0644);
// Splits at the last "\" or "/"; without one, both outputs are left as they are.
void SplitPath(const std::string& path, std::string& folder, std::string& name);
// The file's size in bytes; raises util::CFileIOError when it is missing.
std::uint64_t GetFileSize(const std::string& path);

}  // namespace util
