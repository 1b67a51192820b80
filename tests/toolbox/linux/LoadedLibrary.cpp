#include <dlfcn.h>

#include "tests/toolbox/ToolboxFiles.h"

namespace tbxtest {

bool IsLoaded(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    ::dlclose(handle);
    return true;
}

}  // namespace tbxtest
