#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <sys/reboot.h>
#include <sys/wait.h>

#include "common/err/GeneralError.h"
#include "common/sys/RestartMachine.h"

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

}  // namespace

std::uint32_t RestartMachine(bool force) {
    ::sync();
    if (!force) {
        return AskSystemdToReboot();
    }
    ::reboot(RB_AUTOBOOT);
    return err::LastSystemError();  // reboot(2) returns only when it fails
}

}  // namespace sys
