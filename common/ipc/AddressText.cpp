#include "common/ipc/AddressText.h"

#include "common/util/StringUtils.h"

namespace ipc {

std::string Ipv4Text(std::uint32_t networkOrder) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&networkOrder);
    return util::Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

std::string Ipv6Text(const unsigned char* bytes) {
    std::string text;
    for (int group = 0; group < 8; ++group) {
        if (group > 0) {
            text += ':';
        }
        text += util::Format("%02X%02X", bytes[2 * group], bytes[2 * group + 1]);
    }
    for (auto at = text.find(":00"); at != std::string::npos; at = text.find(":00")) {
        text.erase(at + 1, 1);
    }
    return text;
}

}  // namespace ipc
