#pragma once

#include <windows.h>

#include <string>

// Writes one minidump of this process, seen at the given exception on the given thread, into
// a new file "<folder>\<GUID>.dmp". True when the whole dump was written.
bool WriteDumpFile(const std::string& folder, EXCEPTION_POINTERS* exception, DWORD crashingThread);
