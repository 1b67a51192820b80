#pragma once

#include <windows.h>

#include <string>

namespace sys::win {

// Writes one minidump of this process, seen at the given exception on the given thread, into
// a new file "<folder>\<GUID>.dmp". Returns the file's path when the whole dump was written,
// else an empty text.
std::string WriteDumpFile(const std::string& folder, EXCEPTION_POINTERS* exception,
                          DWORD crashingThread);

}  // namespace sys::win
