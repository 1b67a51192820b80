#pragma once

#include <cstdint>

// The system's address calls behind IPv4Address, one implementation per platform.

namespace ipc {

// The first IPv4 address the system's resolver gives for a host name, in network order;
// false with the Windows Sockets number of the failure (11001 for an unknown host).
bool LookUpIpv4(const char* name, std::uint32_t& address, std::uint32_t& error);

// A dotted IPv4 address in network order; 255.255.255.255 (INADDR_NONE) for a text that is
// not one.
std::uint32_t ParseDottedIpv4(const char* text);

}  // namespace ipc
