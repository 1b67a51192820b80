#pragma once

#include <cstdint>

namespace ipc {

// Socket errors travel with their Windows Sockets numbers, so that the code lists and the
// error-text table of the agent read the same on every platform.
inline constexpr std::uint32_t kWsaNotSocket = 10038;
inline constexpr std::uint32_t kWsaNetReset = 10052;
inline constexpr std::uint32_t kWsaConnAborted = 10053;
inline constexpr std::uint32_t kWsaConnReset = 10054;
inline constexpr std::uint32_t kWsaShutdown = 10058;
inline constexpr std::uint32_t kWsaTimedOut = 10060;
inline constexpr std::uint32_t kWsaConnRefused = 10061;
inline constexpr std::uint32_t kWsaDisconnected = 10101;
inline constexpr std::uint32_t kWsaSysCallFailure = 10107;

// The codes with which a connection has been reset, aborted or shut: nothing more can be
// read from it or written to it.
bool IsConnectionLost(std::uint32_t code);

// The Windows Sockets number of the calling thread's last socket error.
std::uint32_t LastSocketError();

}  // namespace ipc
