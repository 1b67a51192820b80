#include "agent/service/WinSvcEntry.h"

#include <cerrno>

#include "common/err/Errors.h"

namespace WindowsServices {

void WinSvcEntry::ReportStatus(std::uint32_t state, std::uint32_t exitCode,
                               std::uint32_t waitHint) {
    std::lock_guard guard(statusLock_);
    ++status_.checkPoint;
    status_.currentState = state;
    status_.win32ExitCode = exitCode;
    status_.waitHint = waitHint;
    if (statusHandle_ == nullptr) {
        errno = EBADF;
    }
    if (statusHandle_ == nullptr || !statusHandle_->SetServiceStatus(status_)) {
        throw ServiceControlError("ServiceControl", "Failed to Report Service Status", __LINE__, 0,
                                  err::LastSystemError());
    }
}

void WinSvcEntry::SetStatusHandle(IStatusHandle* handle) {
    std::lock_guard guard(statusLock_);
    statusHandle_ = handle;
}

}  // namespace WindowsServices
