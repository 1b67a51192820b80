#pragma once

// The built-in commands' fixed log lines (what they are: docs/architecture.md).
namespace handlers::lines {

// The switch to encryption (CAgentEncryptSession).
inline constexpr int kEncryptCalling = 13;
inline constexpr int kEncryptIpcError = 24;
inline constexpr int kEncryptAgentError = 32;
inline constexpr int kEncryptUnknownError = 40;

}  // namespace handlers::lines
