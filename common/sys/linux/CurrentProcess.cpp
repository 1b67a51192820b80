#include "common/sys/CurrentProcess.h"

#include <signal.h>
#include <unistd.h>

namespace sys {

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

void ReportFileSizeLimitAsError() {
    ::signal(SIGXFSZ, SIG_IGN);
}

// The dynamic linker searches neither the current folder nor PATH.
void LoadLibrariesFromSafeFoldersOnly() {}

}  // namespace sys
