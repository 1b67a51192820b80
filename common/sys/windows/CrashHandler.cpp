#include "common/sys/CrashHandler.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <optional>
#include <utility>

#include "common/sys/ThreadCrashStack.h"
#include "common/sys/windows/DumpFile.h"
#include "common/sys/windows/DumpWriter.h"
#include "common/util/windows/PrivateAccess.h"

// Three ways into one dump per process: the unhandled-exception filter (a fault), the SIGABRT
// handler (abort(), and the runtime's own end of std::terminate) and the terminate handler.
// After the dump each goes on to what was there before, so that the system's failure handling
// follows as if the agent had none.
namespace sys {

namespace {

// Long enough for any dump; a writer held longer than this will not finish.
constexpr DWORD kDumpLimitMs = 30000;
// STATUS_FATAL_APP_EXIT, the code under which the C runtime reports abort().
constexpr DWORD kFatalAppExit = 0x40000015;

using SignalHandler = void (*)(int);

struct Installation {
    Installation(const std::string& folder, CrashDumpCallback afterDump)
        : writer(folder), afterDump(afterDump) {}

    win::CDumpWriter writer;
    CrashDumpCallback afterDump;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
    SignalHandler previousAbort = SIG_DFL;
    std::terminate_handler previousTerminate = nullptr;
};

std::optional<Installation> installation;
std::atomic<Installation*> active{nullptr};

enum class DumpState { None, Writing, Written };
std::atomic<DumpState> dumpState{DumpState::None};

// True for the one caller that is to write the dump. A crash on any thread while it is being
// written ends the process at once: a dump cannot be taken twice, nor waited for from within.
bool TakeDump(DWORD code) {
    DumpState expected = DumpState::None;
    if (dumpState.compare_exchange_strong(expected, DumpState::Writing)) {
        return true;
    }
    if (expected == DumpState::Writing) {
        ::TerminateProcess(::GetCurrentProcess(), code);
    }
    return false;
}

void Report(const Installation& handler, const std::string& dumpPath) {
    if (handler.afterDump != nullptr) {
        handler.afterDump(dumpPath.c_str());
    }
}

// The crashing thread waits, stopped, while the writer dumps it; a stack used up to its
// guard leaves it room for no more than that. A writer that does not finish in time ends
// the process, since whatever holds it would hold the system's own handling too.
LONG WINAPI DumpAndChain(EXCEPTION_POINTERS* exception) {
    Installation* handler = active.load();
    if (handler == nullptr) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    if (TakeDump(code)) {
        const std::string* path =
            handler->writer.Write(exception, ::GetCurrentThreadId(), kDumpLimitMs);
        if (path == nullptr) {
            ::TerminateProcess(::GetCurrentProcess(), code);
        }
        dumpState.store(DumpState::Written);
        Report(*handler, *path);
    }
    return handler->previousFilter != nullptr ? handler->previousFilter(exception)
                                              : EXCEPTION_CONTINUE_SEARCH;
}

// abort() and std::terminate come on a thread whose stack still works, and that thread may
// hold the loader lock (a toolbox's static constructor or destructor, run by its DllMain).
// dbghelp takes that lock, which the writer thread would wait for for ever, while the
// holder itself may take it again: so these dumps are written here.
// Where a captured context stands.
PVOID InstructionPointer(const CONTEXT& context) {
#if defined(__x86_64__)
    return reinterpret_cast<PVOID>(context.Rip);
#else
    return reinterpret_cast<PVOID>(context.Eip);
#endif
}

void DumpCallingThread() {
    Installation* handler = active.load();
    if (handler == nullptr || !TakeDump(kFatalAppExit)) {
        return;
    }
    CONTEXT context{};
    ::RtlCaptureContext(&context);
    EXCEPTION_RECORD record{};
    record.ExceptionCode = kFatalAppExit;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = InstructionPointer(context);
    EXCEPTION_POINTERS pointers{&record, &context};
    const std::string path =
        win::WriteDumpFile(handler->writer.Folder(), &pointers, ::GetCurrentThreadId());
    dumpState.store(DumpState::Written);
    if (!path.empty()) {
        Report(*handler, path);
    }
}

// Returning lets abort() end the process as it does without a handler.
void DumpOnAbort(int) {
    DumpCallingThread();
}

// The runtime's own handler reports the exception and calls abort(), whose handler then
// finds the dump taken.
[[noreturn]] void DumpOnTerminate() {
    DumpCallingThread();
    const Installation* handler = active.load();
    if (handler != nullptr && handler->previousTerminate != nullptr) {
        handler->previousTerminate();
    }
    std::abort();
}

}  // namespace

bool InstallCrashHandler(const std::string& dumpFolder, CrashDumpCallback afterDump) {
    if (installation.has_value()) {
        return false;
    }
    Installation& handler = installation.emplace(dumpFolder, afterDump);
    // Built now: a crash is no time to build the dump's access list.
    util::win::PrivateFileAttributes();
    handler.previousTerminate = std::set_terminate(DumpOnTerminate);
    const SignalHandler previousAbort = std::signal(SIGABRT, DumpOnAbort);
    handler.previousAbort = previousAbort != SIG_ERR ? previousAbort : SIG_DFL;
    handler.previousFilter = ::SetUnhandledExceptionFilter(DumpAndChain);
    active.store(&handler);
    KeepCrashStacksOnNewThreads(true);
    return true;
}

void RemoveCrashHandler() {
    if (!installation.has_value()) {
        return;
    }
    KeepCrashStacksOnNewThreads(false);
    Installation& handler = *installation;
    ::SetUnhandledExceptionFilter(handler.previousFilter);
    std::signal(SIGABRT, handler.previousAbort);
    std::set_terminate(handler.previousTerminate);
    active.store(nullptr);
    installation.reset();
}

}  // namespace sys
