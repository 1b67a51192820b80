#include "common/sys/ProgramPath.h"

#include <filesystem>

namespace sys {

std::string ProgramFolder() {
    return std::filesystem::path(ProgramPath()).parent_path().string();
}

}  // namespace sys
