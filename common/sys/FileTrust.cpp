#include "common/sys/FileTrust.h"

#include <system_error>

namespace sys {

namespace {

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

}  // namespace

// The folder the file is named in, then the file a link leads to and the folder that holds
// it: whoever may change any of them decides what the file says.
std::string UntrustedFileReason(const std::string& path) {
    std::error_code error;
    if (!trust::RunsWithSystemRights() || !std::filesystem::exists(path, error)) {
        return {};
    }
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error) {
        return path + " cannot be resolved: " + error.message();
    }
    const std::filesystem::path named = std::filesystem::path(path).lexically_normal();
    for (const auto& entry : {FolderOf(named), real, real.parent_path()}) {
        if (std::string reason = trust::EntryReason(entry); !reason.empty()) {
            return reason;
        }
    }
    return {};
}

}  // namespace sys
