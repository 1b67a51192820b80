#include "common/sys/ProgramPath.h"

#include <filesystem>
#include <system_error>

namespace sys {

std::string ProgramPath() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.string();
}

}  // namespace sys
