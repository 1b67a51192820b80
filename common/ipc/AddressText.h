#pragma once

#include <cstdint>
#include <string>

namespace ipc {

// Dotted IPv4 text of an address in network byte order.
std::string Ipv4Text(std::uint32_t networkOrder);

}  // namespace ipc
