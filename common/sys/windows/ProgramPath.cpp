#include "common/sys/ProgramPath.h"

#include <windows.h>

namespace sys {

std::string ProgramPath() {
    // The call cuts the path to the buffer without saying how long it is: grow until it fits.
    for (DWORD capacity = MAX_PATH; capacity <= 32768; capacity *= 2) {
        std::string path(capacity, '\0');
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), capacity);
        if (length == 0) {
            return "";
        }
        if (length < capacity) {
            path.resize(length);
            return path;
        }
    }
    return "";
}

}  // namespace sys
