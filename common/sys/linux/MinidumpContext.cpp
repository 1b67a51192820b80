#include "common/sys/linux/MinidumpContext.h"

#include <cstring>

namespace sys {

minidump::ContextAmd64 ContextFromSignal(const ucontext_t& context) noexcept {
    const greg_t* registers = context.uc_mcontext.gregs;
    const auto reg = [registers](int index) {
        return static_cast<std::uint64_t>(registers[index]);
    };
    minidump::ContextAmd64 out{};
    out.contextFlags = minidump::kContextAmd64Full;
    out.rax = reg(REG_RAX);
    out.rcx = reg(REG_RCX);
    out.rdx = reg(REG_RDX);
    out.rbx = reg(REG_RBX);
    out.rsp = reg(REG_RSP);
    out.rbp = reg(REG_RBP);
    out.rsi = reg(REG_RSI);
    out.rdi = reg(REG_RDI);
    out.r8 = reg(REG_R8);
    out.r9 = reg(REG_R9);
    out.r10 = reg(REG_R10);
    out.r11 = reg(REG_R11);
    out.r12 = reg(REG_R12);
    out.r13 = reg(REG_R13);
    out.r14 = reg(REG_R14);
    out.r15 = reg(REG_R15);
    out.rip = reg(REG_RIP);
    out.eflags = static_cast<std::uint32_t>(reg(REG_EFL));
    // cs, gs, fs and ss share one saved word, 16 bits each.
    const std::uint64_t segments = reg(REG_CSGSFS);
    out.cs = static_cast<std::uint16_t>(segments);
    out.gs = static_cast<std::uint16_t>(segments >> 16);
    out.fs = static_cast<std::uint16_t>(segments >> 32);
    out.ss = static_cast<std::uint16_t>(segments >> 48);
    if (const auto* fpu = context.uc_mcontext.fpregs) {
        static_assert(sizeof(*fpu) == sizeof(out.floatSave));
        std::memcpy(out.floatSave, fpu, sizeof(out.floatSave));
        out.mxCsr = fpu->mxcsr;
    }
    return out;
}

minidump::ContextAmd64 ContextFromTrace(const user_regs_struct& registers,
                                        const user_fpregs_struct& floating) noexcept {
    minidump::ContextAmd64 out{};
    out.contextFlags = minidump::kContextAmd64Full;
    out.rax = registers.rax;
    out.rcx = registers.rcx;
    out.rdx = registers.rdx;
    out.rbx = registers.rbx;
    out.rsp = registers.rsp;
    out.rbp = registers.rbp;
    out.rsi = registers.rsi;
    out.rdi = registers.rdi;
    out.r8 = registers.r8;
    out.r9 = registers.r9;
    out.r10 = registers.r10;
    out.r11 = registers.r11;
    out.r12 = registers.r12;
    out.r13 = registers.r13;
    out.r14 = registers.r14;
    out.r15 = registers.r15;
    out.rip = registers.rip;
    out.eflags = static_cast<std::uint32_t>(registers.eflags);
    out.cs = static_cast<std::uint16_t>(registers.cs);
    out.ss = static_cast<std::uint16_t>(registers.ss);
    out.ds = static_cast<std::uint16_t>(registers.ds);
    out.es = static_cast<std::uint16_t>(registers.es);
    out.fs = static_cast<std::uint16_t>(registers.fs);
    out.gs = static_cast<std::uint16_t>(registers.gs);
    static_assert(sizeof(floating) == sizeof(out.floatSave));
    std::memcpy(out.floatSave, &floating, sizeof(out.floatSave));
    out.mxCsr = floating.mxcsr;
    return out;
}

}  // namespace sys
