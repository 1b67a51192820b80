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

// The clock of the running program: real time.
class CSystemClock final : public IBootstrapClock {
public:
    void Sleep(std::uint32_t milliseconds) override;
    bool WaitFor(lang::CEvent& event, std::uint32_t milliseconds) override;

    // The one instance the program uses.
    static CSystemClock& Instance();
};
