#pragma once

// The fixed lines of the engine's errors. The number after the file name in a log line, and the
// line of an error, are fixed identifiers that administrators' log filters match: they never
// change, whatever line of the source writes them.
namespace engine::lines {

// The agent object (CQXAgent).
inline constexpr int kConnectFailed = 379;
inline constexpr int kEncryptFailed = 249;
inline constexpr int kEncryptFailedUnknown = 254;

// The connection (CAgentSocket).
inline constexpr int kSocketEncryptFailedUnknown = 86;

}  // namespace engine::lines

// The value of a CAgentError.
enum AgentErrorValue : int { kAgentOperationFailed = 1, kAgentInputFileMissing = 3 };
