#include "common/sys/linux/FileDescriptor.h"

#include <unistd.h>

namespace sys {

void FileDescriptor::Reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd) {
        ::close(fd_);
    }
    fd_ = fd;
}

}  // namespace sys
