#include "tests/toolbox/ToolboxFiles.h"

#include <dlfcn.h>

#include <filesystem>

namespace tbxtest {

std::string Toolbox(const std::string& name) {
    return std::string(WARDEX_TEST_TOOLBOX_DIR) + "/" + name + ".so";
}

bool IsLoaded(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    ::dlclose(handle);
    return true;
}

void InstallLibrary(const std::string& source, const std::string& destination) {
    const std::string staged = destination + ".new";
    std::filesystem::copy_file(source, staged, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(staged, destination);
}

}  // namespace tbxtest
