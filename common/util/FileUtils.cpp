#include "common/util/FileUtils.h"

#include "common/util/StringUtils.h"

namespace util {

std::string JoinPath(const std::string& folder, const std::string& name) {
    return EndsWithSeparator(folder) ? folder + name : folder + PathSeparator() + name;
}

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const auto separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        return;
    }
    folder = path.substr(0, separator);
    name = path.substr(separator + 1);
}

}  // namespace util
