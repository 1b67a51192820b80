#pragma once

#include <windows.h>

#include "common/util/Owned.h"

namespace util::win {

// A kernel object: a file, a process, a token.
using KernelHandle = util::Owned<util::ClosedBy<HANDLE, ::CloseHandle>>;
// A file as CreateFileA gives it, whose failure is INVALID_HANDLE_VALUE rather than null.
inline KernelHandle OwnFile(HANDLE file) {
    return KernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

}  // namespace util::win
