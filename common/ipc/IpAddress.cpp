#include "common/ipc/IpAddress.h"

#include <cctype>

#include "common/err/Errors.h"
#include "common/ipc/AddressLookUp.h"
#include "common/ipc/AddressText.h"
#include "common/ipc/IpcLines.h"
#include "common/ipc/WinSockManager.h"

namespace ipc {
namespace {

constexpr const char* kSource = "common\\ipc\\IpAddress";

std::uint32_t Resolve(const char* name) {
    WinSockManager::Instance();
    std::uint32_t address = 0;
    std::uint32_t error = 0;
    if (!LookUpIpv4(name, address, error)) {
        throw CIPAddressError(kSource, "IPAddress::Connect Name Resolution Error",
                              lines::kNameNotResolved, kIpcFailed, error);
    }
    return address;
}

}  // namespace

IPv4Address::IPv4Address(const char* text)
    : address_(text && std::isalpha(static_cast<unsigned char>(text[0]))
                   ? Resolve(text)
                   : ParseDottedIpv4(text ? text : "")) {}

std::string IPv4Address::ToString() const {
    return Ipv4Text(address_);
}

}  // namespace ipc
