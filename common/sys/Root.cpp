#include "common/sys/Root.h"

#include <cstdlib>

namespace sys {

std::string RootPath() {
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
