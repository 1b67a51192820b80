#pragma once

#include <ucontext.h>

#include <sys/user.h>

#include "common/sys/linux/MinidumpFormat.h"

namespace sys {

// The registers that the kernel saved for a signal handler, as a minidump thread context.
// Async-signal-safe.
minidump::ContextAmd64 ContextFromSignal(const ucontext_t& context) noexcept;
// The registers of a stopped thread as a debugger reads them.
minidump::ContextAmd64 ContextFromTrace(const user_regs_struct& registers,
                                        const user_fpregs_struct& floating) noexcept;

}  // namespace sys
