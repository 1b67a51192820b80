#pragma once

#include <windows.h>

#include <string>

#include "common/util/windows/KernelHandle.h"

namespace util::win {

// What may hold secrets (the settings key, the log, the state file, crash dumps) is for the
// system and its administrators alone: SYSTEM and Administrators with full control, nobody
// else, and nothing inherited from the parent, whose list may let users read. The lists
// are built once and kept for the process's life, so that a crash can use them without
// building anything.

// For a new file; the file's own list, in its security descriptor.
SECURITY_ATTRIBUTES* PrivateFileAttributes();
// For a registry key; handed down to the subkeys made later.
PSECURITY_DESCRIPTOR PrivateKeyDescriptor();

// Creates a file with the private list (the system applies a list only to a file it makes:
// a disposition that opens an existing file leaves that file's list as it is). Fails, with
// the system's error, as CreateFileA does.
KernelHandle CreatePrivateFile(const std::string& path, DWORD access, DWORD share,
                               DWORD disposition);

}  // namespace util::win
