#pragma once

#include <grp.h>
#include <unistd.h>

#include <functional>
#include <sys/types.h>
#include <sys/wait.h>

namespace testsupport {

// The user and group that a test running as root hands files to and runs as where the
// rights of root would hide what file permissions do.
inline constexpr uid_t kNobody = 65534;

// Runs body in a forked child that, when the test runs as root, first becomes nobody. The
// child's exit code: body's result; 100 when it could not give up root's rights, 200 when
// it did not exit.
inline int RunWithoutPrivileges(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(100);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

}  // namespace testsupport
