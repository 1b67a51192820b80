#include "common/ipc/IpAddress.h"

#include <netdb.h>

#include <arpa/inet.h>
#include <cctype>
#include <memory>
#include <sys/socket.h>

#include "common/err/Errors.h"
#include "common/ipc/SocketError.h"
#include "common/ipc/WinSockManager.h"
#include "common/ipc/linux/SocketError.h"
#include "common/util/StringUtils.h"

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

std::string Ipv4ToString(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string Ipv6ToString(const in6_addr& address) {
    std::string text;
    for (int group = 0; group < 8; ++group) {
        if (group > 0) {
            text += ':';
        }
        text +=
            util::Format("%02X%02X", address.s6_addr[2 * group], address.s6_addr[2 * group + 1]);
    }
    for (auto at = text.find(":00"); at != std::string::npos; at = text.find(":00")) {
        text.erase(at + 1, 1);
    }
    return text;
}

}  // namespace

IPv4Address::IPv4Address(const char* text)
    : address_(text && std::isalpha(static_cast<unsigned char>(text[0]))
                   ? Resolve(text)
                   : ::inet_addr(text ? text : "")) {}

std::string IPv4Address::ToString() const {
    return Ipv4ToString(in_addr{address_});
}

std::string SocketAddressToString(const sockaddr* address) {
    if (!address) {
        return {};
    }
    switch (address->sa_family) {
        case AF_INET:
            return Ipv4ToString(reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
        case AF_INET6:
            return Ipv6ToString(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
        default:
            return {};
    }
}

}  // namespace ipc
