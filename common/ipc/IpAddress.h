#pragma once

#include <cstdint>
#include <string>

struct sockaddr;

namespace ipc {

// A resolved network address.
class IPAddress {
public:
    virtual ~IPAddress() = default;
    virtual std::string ToString() const = 0;
};

// One IPv4 address. A text that starts with a letter is a host name and is resolved; any
// other text is taken as a dotted address without a look-up, so a text that is not one
// gives the address 255.255.255.255 (INADDR_NONE) and the connect to it fails.
class IPv4Address : public IPAddress {
public:
    // Raises ipc::CIPAddressError when a host name does not resolve.
    explicit IPv4Address(const char* text);

    // The address in network byte order.
    std::uint32_t NetworkOrder() const { return address_; }
    std::string ToString() const override;

private:
    std::uint32_t address_;
};

// The address of a socket as text: dotted for IPv4; for IPv6 eight groups of four upper-case
// hexadecimal digits joined by ":", each ":00" shortened to ":0" until none is left; an
// empty string for other families or a null address.
std::string SocketAddressToString(const sockaddr* address);

}  // namespace ipc
