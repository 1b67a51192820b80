#include <netdb.h>

#include <arpa/inet.h>
#include <memory>
#include <sys/socket.h>

#include "common/ipc/AddressLookUp.h"
#include "common/ipc/linux/SocketError.h"

namespace ipc {
namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

}  // namespace

bool LookUpIpv4(const char* name, std::uint32_t& address, std::uint32_t& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(name, nullptr, &hints, &found);
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);
    if (result != 0 || !list) {
        error = WinsockErrorFromResolver(result);
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    return true;
}

std::uint32_t ParseDottedIpv4(const char* text) {
    return ::inet_addr(text);
}

}  // namespace ipc
