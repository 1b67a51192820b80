// A toolbox whose message handler crashes with a write to address 0x20, so that a test sees a
// crash inside a toolbox library. The fault is made in assembly, where no sanitizer checks it.

#include <corvane/Toolbox.h>

namespace {

void Version(int* major, int* minor, int* build) {
    *major = 1;
    *minor = 0;
    *build = 0;
}

std::int32_t CrashOnMessage(msg::IQXMessage*, IAgentAPI*) {
    asm volatile("movq $0x20, %%rax\n\tmovl $1, (%%rax)" ::: "rax", "memory");
    return TBX_SUCCESS;
}

constexpr ToolboxAPI kApi{TBX_API_VERSION, Version, CrashOnMessage};

}  // namespace

const ToolboxAPI* GetToolboxAPI() {
    return &kApi;
}
