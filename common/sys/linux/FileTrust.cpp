#include "common/sys/FileTrust.h"

#include <unistd.h>

#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace sys {

namespace {

// Why root must not trust this file or folder; empty when only root can change it.
std::string EntryReason(const std::filesystem::path& entry) {
    struct stat status {};
    if (::stat(entry.c_str(), &status) != 0) {
        return {};
    }
    if (status.st_uid != 0) {
        return entry.string() + " is owned by another user";
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return entry.string() + " is writable by others";
    }
    return {};
}

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

}  // namespace

// The folder the file is named in, then the file a link leads to and the folder that holds
// it: whoever may change any of them decides what the file says.
std::string UntrustedFileReason(const std::string& path) {
    std::error_code error;
    if (::geteuid() != 0 || !std::filesystem::exists(path, error)) {
        return {};
    }
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error) {
        return path + " cannot be resolved: " + error.message();
    }
    const std::filesystem::path named = std::filesystem::path(path).lexically_normal();
    for (const auto& entry : {FolderOf(named), real, real.parent_path()}) {
        if (std::string reason = EntryReason(entry); !reason.empty()) {
            return reason;
        }
    }
    return {};
}

}  // namespace sys
