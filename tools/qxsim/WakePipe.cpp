#include "tools/qxsim/WakePipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace qxsim {

WakePipe::WakePipe() {
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    read_.Reset(ends[0]);
    write_.Reset(ends[1]);
}

// A full pipe already wakes the reader, so a write that does not fit changes nothing.
void WakePipe::Wake() const {
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(write_.Get(), &byte, 1);
}

void WakePipe::Drain() const {
    char bytes[64];
    while (::read(read_.Get(), bytes, sizeof bytes) > 0) {
    }
}

}  // namespace qxsim
