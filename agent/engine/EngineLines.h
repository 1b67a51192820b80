#pragma once

// The fixed lines of the engine's errors. The number after the file name in a log line, and the
// line of an error, are fixed identifiers that administrators' log filters match: they never
// change, whatever line of the source writes them.
namespace engine_lines {

// The agent object (CQXAgent).
constexpr int kConnectFailed = 379;
constexpr int kEncryptFailed = 249;
constexpr int kEncryptFailedUnknown = 254;

// The connection (CAgentSocket).
constexpr int kSocketEncryptFailedUnknown = 86;

}  // namespace engine_lines
