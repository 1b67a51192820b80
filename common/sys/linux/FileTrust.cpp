#include "common/sys/FileTrust.h"

#include <unistd.h>

#include <sys/stat.h>

namespace sys::trust {

// The agent never changes its user, and a toolbox is checked before every message.
bool RunsWithSystemRights() {
    static const bool root = ::geteuid() == 0;
    return root;
}

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

}  // namespace sys::trust
