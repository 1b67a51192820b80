#pragma once

#include <windows.h>

#include "common/util/Owned.h"
#include "common/util/windows/KernelHandle.h"

namespace sys::win {

// Owns one system resource (a key, a module, a kernel object, a COM interface ...) and
// gives it back with the system's own call when it goes. An empty owner holds Handle{}.
template <typename Handle, auto Close>
using Owned = util::Owned<util::ClosedBy<Handle, Close>>;

// COM interfaces are given back with their own Release.
template <typename Interface>
void ReleaseInterface(Interface* pointer) noexcept {
    pointer->Release();
}
template <typename Interface>
using ComPtr = Owned<Interface*, ReleaseInterface<Interface>>;

// Kernel objects are owned as the file helpers own them.
using util::win::KernelHandle;
using util::win::OwnFile;

}  // namespace sys::win
