#include "agent/BootstrapClock.h"

#include <chrono>
#include <thread>

void CSystemClock::Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool CSystemClock::WaitFor(lang::CEvent& event, std::uint32_t milliseconds) {
    return event.Wait(milliseconds);
}

CSystemClock& CSystemClock::Instance() {
    static CSystemClock clock;
    return clock;
}
