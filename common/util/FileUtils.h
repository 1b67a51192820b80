#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace util {

// True when the path names something that exists and is not a folder.
bool FileExists(const std::string& path);
// Deletes a file; raises util::CFileIOError when it is missing or cannot be deleted.
bool DeleteFile(const std::string& path);
// Creates every folder along the path's "/" separators (on Windows "\\" too, from after a
// drive's root or a \\server\share); the part after the last one is taken as a file name
// and not created. A path in double quotes is taken without them.
bool CreateDirectoryPath(const std::string& path);
// The files below may hold what the server sent: on Linux they are readable by their owner
// only, on Windows by the system and administrators only.

// Creates the file's folders and replaces any file of that name with a new empty one.
// Raises util::CFileIOError on failure.
void CreateEmptyFile(const std::string& path);
// Creates an empty file when nothing of that name exists, in a folder that must exist; false
// when it created none.
bool CreateNewFile(const std::string& path);

// The steps of ReplaceFileContents.
enum class ReplaceStep { Create, Write, Flush, Rename };
// Writes the bytes to a new "<path>.tmp" (private as above, whatever an old one was),
// flushes it to the disk and renames it over the file, so that a reader finds the old
// contents or the new ones, whole.
// Returns the step that failed, with the system's error code still current; nothing on
// success.
std::optional<ReplaceStep> ReplaceFileContents(const std::string& path, const std::string& bytes);
// The separator between a folder and a name in the system's own paths: "/" on Linux, "\" on
// Windows.
char PathSeparator();
// The folder, the system's separator unless the folder already ends in "\" or "/", then the
// name; an empty folder gives the name at the root.
std::string JoinPath(const std::string& folder, const std::string& name);
// The end of a line in the system's text files: LF on Linux, CR LF on Windows.
const char* LineEnd();
// Splits at the last "\" or "/"; without one, both outputs are left as they are.
void SplitPath(const std::string& path, std::string& folder, std::string& name);
// The file's size in bytes; raises util::CFileIOError when it is missing.
std::uint64_t GetFileSize(const std::string& path);

}  // namespace util
