#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/util/FileUtils.h"

// The system's file calls behind the file helpers, one implementation per platform. Calls
// that fail leave the system's error code current.

namespace util::files {

// How folders are walked: the characters that separate them, and the longest path taken.
const char* FolderSeparators();
std::size_t LongestPath();
// Where the walk starts: npos when no folder may be made along the path.
std::size_t FirstFolderEnd(const std::string& path);
// True when the folder ending before the separator at position needs no making (a root).
bool IsRoot(const std::string& path, std::size_t separator);
// Makes one folder; true when it is there afterwards.
bool MakeFolder(const std::string& folder);

bool IsFile(const std::string& path);
bool Remove(const std::string& path);
// Replaces any file of that name, read-only too, with a new empty private one.
bool ReplaceWithEmpty(const std::string& path);
// Writes the bytes to a new private file and flushes them to the disk; the step that failed.
std::optional<ReplaceStep> WriteNewFile(const std::string& path, const std::string& bytes);
// Renames over any file of the new name.
bool Rename(const std::string& from, const std::string& to);
bool SizeOf(const std::string& path, std::uint64_t& size);

}  // namespace util::files
