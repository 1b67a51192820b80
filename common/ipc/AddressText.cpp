#include "common/ipc/AddressText.h"

#include "common/util/StringUtils.h"

namespace ipc {

std::string Ipv4Text(std::uint32_t networkOrder) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&networkOrder);
    return util::Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

}  // namespace ipc
