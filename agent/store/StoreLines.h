#pragma once

// The fixed lines of the settings' errors. The number after the file name in a log line, and the
// line of an error, are fixed identifiers that administrators' log filters match: they never
// change, whatever line of the source writes them.
namespace store::lines {

inline constexpr int kSetSettingFailed = 195;
inline constexpr int kDeleteSettingFailed = 351;

}  // namespace store::lines
