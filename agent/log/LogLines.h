#pragma once

// The fixed lines of the log's own lines and errors. The number after the file name in a log line,
// and the line of an error, are fixed identifiers that administrators' log filters match: they
// never change, whatever line of the source writes them.
namespace logging::lines {

inline constexpr int kAllocationFailed = 419;
inline constexpr int kInitialized = 422;
inline constexpr int kFileOpenFailed = 181;

}  // namespace logging::lines

namespace logging {

// The value of a CAgentLogError.
enum LogErrorValue : int { kLogUnavailable = 1, kLogOutOfMemory = 2, kLogFileNotOpened = 4 };

}  // namespace logging
