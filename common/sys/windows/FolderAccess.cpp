#include "common/sys/FolderAccess.h"

#include <windows.h>

#include "common/sys/windows/Owned.h"

namespace sys {

// The folder is opened with the rights asked about, so the system checks them against the
// folder's security as it would for the real work, and nothing is created to find out.
int FolderAccessError(const std::string& folder, bool write) {
    const DWORD attributes = ::GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return static_cast<int>(::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return ERROR_DIRECTORY;
    }
    const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | (write ? FILE_ADD_FILE : 0);
    const win::KernelHandle opened = win::OwnFile(::CreateFileA(
        folder.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return opened ? 0 : static_cast<int>(::GetLastError());
}

}  // namespace sys
