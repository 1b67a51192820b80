#include "common/sys/Root.h"

#include <cstdlib>

#include "common/sys/Platform.h"

namespace sys {

std::string RootPath() {
    // Windows keeps its system locations where the system has them; tests there get their
    // isolation from a throw-away Wine prefix instead.
    if constexpr (kBuiltPlatform == Platform::Windows) {
        return "/";
    }
    const char* root = std::getenv("CORVANE_ROOT");
    if (root == nullptr || *root == '\0') {
        return "/";
    }
    return root;
}

std::string UnderRoot(const std::string& relative) {
    std::string path = RootPath();
    if (path.back() != '/') {
        path += '/';
    }
    const size_t start = relative.find_first_not_of('/');
    if (start != std::string::npos) {
        path += relative.substr(start);
    }
    return path;
}

bool IsRootRelocated() {
    return RootPath() != "/";
}

}  // namespace sys
