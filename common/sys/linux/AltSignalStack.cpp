#include "common/sys/linux/AltSignalStack.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>

namespace sys {
namespace {

// Enough for the crash handler to write a dump.
constexpr std::size_t kMinSize = 64 * 1024;

std::size_t StackSize() {
    return std::max<std::size_t>(kMinSize,
                                 4 * static_cast<std::size_t>(::sysconf(_SC_MINSIGSTKSZ)));
}

}  // namespace

AltSignalStack::AltSignalStack() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0) {
        return;
    }
    previous_ = {current.ss_sp, current.ss_size, current.ss_flags};
    const std::size_t size = StackSize();
    if ((current.ss_flags & SS_DISABLE) == 0 && current.ss_size >= size) {
        set_ = true;
        return;
    }
    stack_.reset(new char[size]);
    stack_t stack{};
    stack.ss_sp = stack_.get();
    stack.ss_size = size;
    set_ = ::sigaltstack(&stack, nullptr) == 0;
    if (!set_) {
        stack_.reset();
    }
}

AltSignalStack::~AltSignalStack() {
    if (stack_) {
        stack_t previous{};
        previous.ss_sp = previous_.base;
        previous.ss_size = previous_.size;
        previous.ss_flags = previous_.flags & SS_DISABLE;
        ::sigaltstack(&previous, nullptr);
    }
}

}  // namespace sys
