#pragma once

// The engine's fixed log and error lines (what they are: docs/architecture.md).
namespace engine::lines {

// The agent object (CQXAgent).
inline constexpr int kConnectFailed = 379;
inline constexpr int kEncryptFailed = 249;
inline constexpr int kEncryptFailedUnknown = 254;

// The connection (CAgentSocket).
inline constexpr int kSocketEncryptFailedUnknown = 86;

// The input thread's error lines (CInputThread).
inline constexpr int kInputUnknownException = 55;
inline constexpr int kInputExitingAfterException = 57;
inline constexpr int kInputOversized = 104;
inline constexpr int kInputOversizedDiscarded = 109;
inline constexpr int kInputAfterEmptyDiscarded = 113;
inline constexpr int kInputDroppedBeforeEncryption = 124;
inline constexpr int kInputSessionNotEncrypted = 138;
inline constexpr int kInputExitingOnReadError = 179;

// The workers (MsgThread).
inline constexpr int kWorkerError = 39;
inline constexpr int kWorkerException = 52;

// The dispatch (CDispatch).
inline constexpr int kDispatchExiting = 27;
inline constexpr int kDispatchNoThread = 36;

}  // namespace engine::lines

// The value of a CAgentError.
enum AgentErrorValue : int { kAgentOperationFailed = 1, kAgentInputFileMissing = 3 };
