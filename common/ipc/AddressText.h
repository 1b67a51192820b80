#pragma once

#include <cstdint>
#include <string>

namespace ipc {

// The text forms of addresses that every platform's SocketAddressToString shares.

// Dotted IPv4 text of an address in network byte order.
std::string Ipv4Text(std::uint32_t networkOrder);
// Eight groups of four upper-case hexadecimal digits joined by ":", each ":00" shortened to
// ":0" until none is left; bytes holds the 16 bytes of the address in network order.
std::string Ipv6Text(const unsigned char* bytes);

}  // namespace ipc
