#pragma once

#include <thread>

namespace lang {

// How many times a thread that expects more work at once looks for it before it goes to sleep,
// giving the processor to any other thread that wants it between two looks.
inline constexpr int kLooksBeforeSleep = 2000;

// Looks kLooksBeforeSleep times whether ready() holds, yielding the processor between two
// looks; true as soon as it holds. Work that comes close behind the last is then taken without
// the thread being put to sleep and woken again, which costs more than a short message. A look
// costs a system call, so a thread that finds nothing spends about a millisecond of processor
// time before it sleeps, and only while no other thread wants the processor.
template <typename Ready>
bool YieldBriefly(Ready ready) {
    for (int look = 0; look < kLooksBeforeSleep; ++look) {
        if (ready()) {
            return true;
        }
        std::this_thread::yield();
    }
    return ready();
}

}  // namespace lang
