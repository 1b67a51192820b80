#pragma once

#include <cstdint>

namespace sys {

// The system's id of the running process, as the log stamps it.
std::uint32_t CurrentProcessId();

// A write past the file-size limit fails with an error instead of ending the process, as a
// write to a full disk does: the log, the state file and the settings store report it and
// the agent goes on.
void ReportFileSizeLimitAsError();

// Libraries that the process, or a library it loaded, asks for by a bare name come from the
// program's folder and the system's folders only, never from the current folder or a PATH
// folder, where users may put files. The Linux loader does not look there anyway.
void LoadLibrariesFromSafeFoldersOnly();

}  // namespace sys
