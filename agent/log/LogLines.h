#pragma once

// The log's own fixed lines and error lines (what they are: docs/architecture.md).
namespace logging::lines {

inline constexpr int kAllocationFailed = 419;
inline constexpr int kInitialized = 422;
inline constexpr int kFileOpenFailed = 181;

}  // namespace logging::lines

namespace logging {

// The value of a CAgentLogError.
enum LogErrorValue : int { kLogUnavailable = 1, kLogOutOfMemory = 2, kLogFileNotOpened = 4 };

}  // namespace logging
