#include "common/sys/Reboot.h"

#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <sys/reboot.h>
#include <sys/wait.h>
#include <utility>

#include "common/err/Errors.h"
#include "common/sys/Root.h"
#include "common/util/linux/FileUtils.h"

extern char** environ;

namespace sys {

namespace {

// Asks systemd for an orderly reboot, in which services and programs stop first.
std::uint32_t AskSystemdToReboot() {
    char systemctl[] = "systemctl";
    char reboot[] = "reboot";
    char* arguments[] = {systemctl, reboot, nullptr};
    pid_t child = 0;
    if (const int error = ::posix_spawnp(&child, systemctl, nullptr, nullptr, arguments, environ)) {
        return static_cast<std::uint32_t>(error);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) < 0) {
        return err::LastSystemError();
    }
    // systemd turned the request down (no permission, a reboot inhibited).
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : ECANCELED;
}

std::uint32_t RestartMachine(bool force) {
    ::sync();
    if (!force) {
        return AskSystemdToReboot();
    }
    ::reboot(RB_AUTOBOOT);
    return err::LastSystemError();  // reboot(2) returns only when it fails
}

std::uint32_t RecordRequest(bool force) {
    try {
        const FileDescriptor file =
            util::CreateNewFile(UnderRoot("run/corvane/reboot-requested"), 0644);
        const std::string line = force ? "force=1\n" : "force=0\n";
        if (::write(file.Get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            return err::LastSystemError();
        }
        return 0;
    } catch (const err::CGeneralError& e) {
        return e.SystemError();
    }
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
