#include "agent/engine/BootstrapClock.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/sys/Root.h"

namespace {

std::uint32_t WaitDivisor() {
    const char* text = std::getenv("CORVANE_WAIT_DIVISOR");
    if (!text || !sys::IsRootRelocated()) {
        return 1;
    }
    const unsigned long divisor = std::strtoul(text, nullptr, 10);
    return divisor > 1 && divisor <= 1000000 ? static_cast<std::uint32_t>(divisor) : 1;
}

}  // namespace

void CSystemClock::Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(milliseconds)));
}

bool CSystemClock::WaitFor(lang::CEvent& event, std::uint32_t milliseconds) {
    return event.Wait(Scaled(milliseconds));
}

CSystemClock& CSystemClock::Instance() {
    static CSystemClock clock(WaitDivisor());
    return clock;
}
