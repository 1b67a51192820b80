#pragma once

#include <cstdint>

#include "common/lang/Event.h"

// The pauses of the bootstrap: its reconnect waits, the hold before it reads the settings
// input file and the debugger hold at start. Tests put a clock of their own here, so that
// they see every wait without sitting through it.
class IBootstrapClock {
public:
    virtual ~IBootstrapClock() = default;

    // Pauses the calling thread for the time given.
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // Waits until the event is set or the time has passed; true when the event was set.
    virtual bool WaitFor(lang::CEvent& event, std::uint32_t milliseconds) = 0;
};

// The clock of the running program: real time. Under a relocated root or in a console mode,
// the environment variable CORVANE_WAIT_DIVISOR (a whole number above 1) divides every
// pause, so that tests and trials of the real program see a whole reconnect schedule in
// moments; the service at the real system root always runs at real time.
class CSystemClock final : public IBootstrapClock {
public:
    void Sleep(std::uint32_t milliseconds) override;
    bool WaitFor(lang::CEvent& event, std::uint32_t milliseconds) override;

    // The one instance the program uses.
    static CSystemClock& Instance();

private:
    explicit CSystemClock(std::uint32_t divisor) : divisor_(divisor) {}
    std::uint32_t Scaled(std::uint32_t milliseconds) const { return milliseconds / divisor_; }

    const std::uint32_t divisor_;
};
