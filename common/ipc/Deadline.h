#pragma once

#include <algorithm>
#include <chrono>

#include "common/lang/Event.h"

namespace ipc {

// The end of a time-out in milliseconds that several waits share; lang::kInfinite never ends.
class Deadline {
public:
    explicit Deadline(unsigned timeoutMs)
        : forever_(timeoutMs == lang::kInfinite),
          end_(Clock::now() + std::chrono::milliseconds(timeoutMs)) {}

    bool IsForever() const { return forever_; }

    // The milliseconds left, rounded up: lang::kInfinite for ever, 0 once the end has passed.
    unsigned LeftMs() const {
        if (forever_) {
            return lang::kInfinite;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now());
        return static_cast<unsigned>(
            std::clamp<long long>(left.count(), 0, static_cast<long long>(lang::kInfinite) - 1));
    }

private:
    using Clock = std::chrono::steady_clock;

    bool forever_;
    Clock::time_point end_;
};

}  // namespace ipc
