#include <windows.h>

#include <algorithm>

#include "tests/toolbox/ToolboxFiles.h"

namespace tbxtest {

// Looks the module up without taking a reference of its own; the lookup takes a path only
// with backslashes.
bool IsLoaded(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '/', '\\');
    return ::GetModuleHandleA(native.c_str()) != nullptr;
}

}  // namespace tbxtest
