#include "agent/engine/BootstrapClock.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/sys/Root.h"
#include "common/util/Console.h"

namespace {

// A relocated root, or a run from a console, is a trial or a test; the service at the real
// root always waits its real time. Windows has no relocated root, so its tests run the
// console modes.
bool MayShortenWaits() {
    return sys::IsRootRelocated() || util::IsConsoleMode();
}

std::uint32_t WaitDivisor() {
    const char* text = std::getenv("CORVANE_WAIT_DIVISOR");
    if (!text || !MayShortenWaits()) {
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
