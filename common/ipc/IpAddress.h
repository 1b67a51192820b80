#pragma once

#include <cstdint>
#include <string>

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

}  // namespace ipc
