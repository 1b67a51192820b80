// A toolbox that crashes, so that a test sees a crash inside a toolbox library. By default its
// message handler writes to address 0x20, in assembly, where no sanitizer checks it. Built
// with WARDEX_ABORT_ON_MESSAGE it calls abort() there instead; built with
// WARDEX_CRASH_ON_LOAD it ends in std::terminate from a static constructor as it is loaded,
// before any message: on Windows inside its DllMain, with the loader lock held.

#include <cstdlib>
#include <exception>

#include <corvane/Toolbox.h>

namespace {

#ifdef WARDEX_CRASH_ON_LOAD
const struct EndOnLoad {
    EndOnLoad() { std::terminate(); }
} endOnLoad;
#endif

void Version(int* major, int* minor, int* build) {
    *major = 1;
    *minor = 0;
    *build = 0;
}

std::int32_t CrashOnMessage(msg::IQXMessage*, IAgentAPI*) {
#ifdef WARDEX_ABORT_ON_MESSAGE
    std::abort();
#else
    asm volatile("movl $1, 0x20" ::: "memory");  // an absolute address on x86 and x86-64
    return TBX_SUCCESS;
#endif
}

constexpr ToolboxAPI kApi{TBX_API_VERSION, Version, CrashOnMessage};

}  // namespace

const ToolboxAPI* GetToolboxAPI() {
    return &kApi;
}
