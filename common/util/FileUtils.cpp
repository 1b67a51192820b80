#include "common/util/FileUtils.h"

namespace util {

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const auto separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        return;
    }
    folder = path.substr(0, separator);
    name = path.substr(separator + 1);
}

}  // namespace util
