#include "agent/engine/ReconnectSchedule.h"

#include <algorithm>

#include "common/util/StringUtils.h"

namespace {

// A seed of 256 bits from the entropy source; the clock alone would give a thousand agents
// started by one command the same draws.
std::mt19937 SeededGenerator() {
    std::random_device entropy;
    std::seed_seq seed{entropy(), entropy(), entropy(), entropy(),
                       entropy(), entropy(), entropy(), entropy()};
    return std::mt19937(seed);
}

}  // namespace

CReconnectSchedule::CReconnectSchedule() : random_(SeededGenerator()) {}

std::uint32_t CReconnectSchedule::NextMilliseconds(std::uint32_t spreadSeconds) {
    if (index_ < kSeconds.size() - 1) {
        ++index_;
    }
    const std::uint32_t base = kSeconds[index_] * 1000;
    if (spreadSeconds == 0) {
        return base;
    }
    const std::uint32_t spread = std::min(spreadSeconds, kMaxSpreadSeconds) * 1000;
    return base + std::uniform_int_distribution<std::uint32_t>(0, spread)(random_);
}

std::string WaitText(std::uint32_t milliseconds) {
    if (milliseconds % 1000 == 0) {
        return std::to_string(milliseconds / 1000);
    }
    return util::Format("%u.%03u", milliseconds / 1000, milliseconds % 1000);
}
