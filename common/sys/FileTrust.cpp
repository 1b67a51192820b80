#include "common/sys/FileTrust.h"

#include <algorithm>
#include <system_error>

namespace sys {

namespace {

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// A regular file named without ".." is its own real path in the folder named: the folder and
// the file are then the whole check, two status queries instead of one per component of the
// path. Only a pass is taken from here: a refusal is worded by the full check.
bool PassesAsNamed(const std::filesystem::path& named) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(named, error)) ||
        std::find(named.begin(), named.end(), "..") != named.end()) {
        return false;
    }
    return trust::EntryReason(FolderOf(named)).empty() && trust::EntryReason(named).empty();
}

}  // namespace

// The folder the file is named in, then the file a link leads to and the folder that holds
// it: whoever may change any of them decides what the file says.
std::string UntrustedFileReason(const std::string& path) {
    if (!trust::RunsWithSystemRights()) {
        return {};
    }
    const std::filesystem::path named = std::filesystem::path(path).lexically_normal();
    std::error_code error;
    if (PassesAsNamed(named) || !std::filesystem::exists(path, error)) {
        return {};
    }
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error) {
        return path + " cannot be resolved: " + error.message();
    }
    for (const auto& entry : {FolderOf(named), real, real.parent_path()}) {
        if (std::string reason = trust::EntryReason(entry); !reason.empty()) {
            return reason;
        }
    }
    return {};
}

}  // namespace sys
