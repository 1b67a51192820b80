#include "common/sys/linux/FileLock.h"

#include <fcntl.h>

#include <cerrno>
#include <sys/file.h>

namespace sys {

bool FileLock::Acquire(const std::string& path, Mode mode) {
    file_.Reset();
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        return false;
    }
    const int operation = mode == Mode::Shared ? LOCK_SH : LOCK_EX;
    int result = 0;
    do {
        result = ::flock(file.Get(), operation);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return false;
    }
    file_ = std::move(file);
    return true;
}

}  // namespace sys
