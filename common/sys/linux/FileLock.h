#pragma once

#include <string>

#include "common/sys/linux/FileDescriptor.h"

namespace sys {

// An advisory lock (flock) on a file or folder, held for the life of the object. Processes
// that take the same lock wait for each other; a process that dies lets go of it at once.
class FileLock {
public:
    enum class Mode { Shared, Exclusive };

    FileLock() = default;
    // Opens the path read-only and waits until the lock is granted. On failure returns
    // false with errno set and holds nothing.
    bool Acquire(const std::string& path, Mode mode);
    bool IsHeld() const { return file_.IsOpen(); }
    // The descriptor the lock is held on, e.g. to fsync a locked folder.
    int Descriptor() const { return file_.Get(); }

private:
    FileDescriptor file_;
};

}  // namespace sys
