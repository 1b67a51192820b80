#pragma once

#include <filesystem>
#include <string>

namespace sys {

// Why a file that carries commands for the agent (a toolbox library, the settings input
// file, the configuration file) must not be used: run with the system's own rights, the
// agent would carry out whatever anyone who can change the file, or replace it in its
// folder, put there. Empty when the file may be used: the agent does not run with those
// rights, the file does not exist (its reader reports that), or the file and its folder
// belong to the system's administrators and nobody else may write to them.
std::string UntrustedFileReason(const std::string& path);

// What each system answers for the check above.
namespace trust {

// True when the agent runs with the system's own rights: as root on Linux, as LocalSystem
// on Windows.
bool RunsWithSystemRights();
// "<entry> is owned by another user" or "<entry> is writable by others" for a file or folder
// that someone besides the system's administrators owns or may change; empty when nobody
// does, or when the entry is gone.
std::string EntryReason(const std::filesystem::path& entry);

}  // namespace trust

}  // namespace sys
