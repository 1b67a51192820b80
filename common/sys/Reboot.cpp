#include "common/sys/Reboot.h"

#include <fstream>
#include <mutex>
#include <string>
#include <utility>

#include "common/err/GeneralError.h"
#include "common/sys/RestartMachine.h"
#include "common/sys/Root.h"
#include "common/util/FileUtils.h"

namespace sys {

namespace {

std::uint32_t RecordRequest(bool force) {
    const std::string path = UnderRoot("run/corvane/reboot-requested");
    if (!util::CreateDirectoryPath(path)) {
        return err::LastSystemError();
    }
    std::ofstream file(path, std::ios::trunc);
    file << (force ? "force=1\n" : "force=0\n") << std::flush;
    return file ? 0 : err::LastSystemError();
}

std::mutex& RestartCallLock() {
    static std::mutex lock;
    return lock;
}

RestartCall& CurrentRestartCall() {
    static RestartCall call = RestartMachine;
    return call;
}

}  // namespace

std::uint32_t Reboot(bool force) {
    if (IsRootRelocated()) {
        return RecordRequest(force);
    }
    RestartCall call;
    {
        std::lock_guard guard(RestartCallLock());
        call = CurrentRestartCall();
    }
    return call(force);
}

RestartCall SetRestartCall(RestartCall call) {
    std::lock_guard guard(RestartCallLock());
    return std::exchange(CurrentRestartCall(), std::move(call));
}

}  // namespace sys
