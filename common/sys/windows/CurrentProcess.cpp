#include "common/sys/CurrentProcess.h"

#include <windows.h>

namespace sys {

std::uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

// Windows has no signal for it: a write past a size limit already fails with an error.
void ReportFileSizeLimitAsError() {}

void LoadLibrariesFromSafeFoldersOnly() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace sys
