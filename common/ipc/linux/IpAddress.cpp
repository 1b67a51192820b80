#include "common/ipc/IpAddress.h"

#include <netdb.h>

#include <arpa/inet.h>
#include <cctype>
#include <memory>
#include <sys/socket.h>

#include "common/err/Errors.h"
#include "common/ipc/AddressText.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/WinSockManager.h"
#include "common/ipc/linux/SocketError.h"

namespace ipc {
namespace {

constexpr const char* kSource = "common\\ipc\\IpAddress";

struct AddrInfoDeleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

in_addr_t Resolve(const char* name) {
    WinSockManager::Instance();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(name, nullptr, &hints, &found);
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);
    if (result != 0 || !list) {
        throw CIPAddressError(kSource, "IPAddress::Connect Name Resolution Error", 159, 0,
                              WinsockErrorFromResolver(result));
    }
    return reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
}

}  // namespace

IPv4Address::IPv4Address(const char* text)
    : address_(text && std::isalpha(static_cast<unsigned char>(text[0]))
                   ? Resolve(text)
                   : ::inet_addr(text ? text : "")) {}

std::string IPv4Address::ToString() const {
    return Ipv4Text(address_);
}

std::string SocketAddressToString(const sockaddr* address) {
    if (!address) {
        return {};
    }
    switch (address->sa_family) {
        case AF_INET:
            return Ipv4Text(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
        case AF_INET6:
            return Ipv6Text(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr);
        default:
            return {};
    }
}

}  // namespace ipc
