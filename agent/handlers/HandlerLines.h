#pragma once

// The fixed lines of the built-in commands' log lines. The number after the file name in a log
// line, and the line of an error, are fixed identifiers that administrators' log filters match:
// they never change, whatever line of the source writes them.
namespace handlers::lines {

// The switch to encryption (CAgentEncryptSession).
inline constexpr int kEncryptCalling = 13;
inline constexpr int kEncryptIpcError = 24;
inline constexpr int kEncryptAgentError = 32;
inline constexpr int kEncryptUnknownError = 40;

}  // namespace handlers::lines
