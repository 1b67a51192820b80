#include "common/sys/linux/OwnMemory.h"

#include <unistd.h>

#include <sys/uio.h>

namespace sys {

bool ReadOwnMemory(std::uintptr_t address, void* out, std::size_t size) noexcept {
    // The kernel does the copy and reports a bad address as an error.
    const iovec local{out, size};
    const iovec remote{reinterpret_cast<void*>(address), size};
    return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

}  // namespace sys
