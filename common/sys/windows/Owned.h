#pragma once

#include <windows.h>

#include "common/lang/Owned.h"

namespace sys::win {

// Owns one system resource (a key, a module, a kernel object, a COM interface ...) and
// gives it back with the system's own call when it goes. An empty owner holds Handle{}.
template <typename Handle, auto Close>
using Owned = lang::Owned<lang::ClosedBy<Handle, Close>>;

// COM interfaces are given back with their own Release.
template <typename Interface>
void ReleaseInterface(Interface* pointer) noexcept {
    pointer->Release();
}
template <typename Interface>
using ComPtr = Owned<Interface*, ReleaseInterface<Interface>>;

// A kernel object: a file, a process, a token.
using KernelHandle = Owned<HANDLE, ::CloseHandle>;
// A file as CreateFileA gives it, whose failure is INVALID_HANDLE_VALUE rather than null.
inline KernelHandle OwnFile(HANDLE file) {
    return KernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

}  // namespace sys::win
