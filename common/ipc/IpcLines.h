#pragma once

// The transport's fixed error lines and values, on every platform (what they are:
// docs/architecture.md).

namespace ipc::lines {

// CTCPSocketIPC
inline constexpr int kConnectWhileConnected = 41;
inline constexpr int kConnectWithoutResource = 44;
inline constexpr int kConnectWithoutPort = 47;
inline constexpr int kConnectFailed = 71;
inline constexpr int kSocketAlreadyExists = 113;
inline constexpr int kSocketNotCreated = 119;
// IPv4Address
inline constexpr int kNameNotResolved = 159;
// CSocketIPC
inline constexpr int kWaitFailed = 252;
inline constexpr int kTimedOut = 254;
inline constexpr int kReceiveFailed = 290;
inline constexpr int kConnectionLost = 306;
inline constexpr int kStreamEndedUnexpectedly = 310;
inline constexpr int kSendFailed = 348;
// CIPCInterface
inline constexpr int kCancelNotOverridden = 98;
inline constexpr int kEncryptWithoutTransport = 84;
inline constexpr int kEncryptUnknownType = 87;
// CTCPSChannel
inline constexpr int kEncryptFailed = 161;
inline constexpr int kDecryptFailed = 207;
inline constexpr int kHandshakeFailedUnknown = 308;

}  // namespace ipc::lines

namespace ipc {

// The value of a CIPCError (and of a CIPAddressError, which is always a failure).
enum IpcErrorValue : int {
    kIpcFailed = 0,
    // The socket did not become ready within the time-out; the caller may try again.
    kIpcTimedOut = 1,
};

// The value of a CIPCError raised by CIPCInterface's own operations: what was asked wrongly.
enum InterfaceErrorValue : int {
    kInterfaceUnknownType = 1,
    kInterfaceMissingTransport = 2,
    kInterfaceNotOverridden = 3,
};

// The value of a CTCPCSocketError: a Connect that could not begin.
enum ConnectErrorValue : int {
    kConnectAlreadyConnected = 1,
    kConnectMissingParameter = 2,
};

}  // namespace ipc
