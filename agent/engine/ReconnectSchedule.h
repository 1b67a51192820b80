#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>

// The waits between the service's runs: a fixed back-off table, and for fleets an optional
// random addition to every wait, so that agents that lost their server at the same moment do
// not all come back at the same moments. Each schedule draws from a generator of its own,
// seeded from the system's entropy source, so that agents started together draw differently.
class CReconnectSchedule {
public:
    // The waits in seconds. The index is advanced before every lookup, so entry 0 is never
    // read, and it stays on the last entry once the table is used up.
    static constexpr std::array<std::uint32_t, 18> kSeconds = {
        1, 1, 1, 1, 1, 15, 15, 15, 60, 60, 60, 60, 300, 300, 300, 300, 300, 1800};
    // The largest addition taken: a day, which keeps every wait within the clock's range.
    static constexpr std::uint32_t kMaxSpreadSeconds = 86400;

    CReconnectSchedule();

    // Advances the table and gives its wait in milliseconds, plus a random addition from 0 to
    // spreadSeconds (at most kMaxSpreadSeconds) when that is not 0.
    std::uint32_t NextMilliseconds(std::uint32_t spreadSeconds);
    // A session was reached: the next wait is the table's first again.
    void Restart() { index_ = 0; }

private:
    std::uint32_t index_ = 0;
    std::mt19937 random_;
};

// A wait as the log tells it: "15" for whole seconds, "27.412" otherwise.
std::string WaitText(std::uint32_t milliseconds);
