#pragma once

// The fixed lines of the log's own lines and errors. The number after the file name in a log line,
// and the line of an error, are fixed identifiers that administrators' log filters match: they
// never change, whatever line of the source writes them.
namespace log_lines {

constexpr int kAllocationFailed = 419;
constexpr int kInitialized = 422;
constexpr int kFileOpenFailed = 181;

}  // namespace log_lines
