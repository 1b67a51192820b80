#pragma once

#include "common/sys/linux/FileDescriptor.h"

namespace qxsim {

// A non-blocking pipe whose only job is to wake a poll on another thread: Wake writes one
// byte, Drain empties it after the poll saw it.
class WakePipe {
public:
    // Throws std::runtime_error when the system has no pipe to give.
    WakePipe();

    int ReadEnd() const { return read_.Get(); }
    // Safe from any thread.
    void Wake() const;
    void Drain() const;

private:
    sys::FileDescriptor read_;
    sys::FileDescriptor write_;
};

}  // namespace qxsim
