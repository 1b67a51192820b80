#pragma once

#include <string>

namespace tbxtest {

// The file name of a test toolbox library, e.g. File("testtbx_next") is "testtbx_next.so"
// (".dll" on Windows), and its path beside the test program.
inline std::string File(const std::string& name) {
    return name + WARDEX_TOOLBOX_SUFFIX;
}
inline std::string Toolbox(const std::string& name) {
    return std::string(WARDEX_TEST_TOOLBOX_DIR) + "/" + File(name);
}

// True when the library at the path is in the process's memory now.
bool IsLoaded(const std::string& path);

}  // namespace tbxtest
