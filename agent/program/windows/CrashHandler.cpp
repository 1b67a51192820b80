#include "agent/program/CrashHandler.h"

// dbghelp.h needs the declarations of windows.h before it.
// clang-format off
#include <windows.h>
#include <dbghelp.h>
#include <rpc.h>
// clang-format on

#include <atomic>
#include <utility>

#include "common/sys/windows/Owned.h"
#include "common/sys/windows/PrivateAccess.h"

// The process's unhandled-exception filter writes "<dump folder>\<GUID>.dmp" with dbghelp
// (threads, modules, the exception) and then lets the system's own failure handling follow.
namespace {

struct DumpRequest {
    const std::string* folder;
    EXCEPTION_POINTERS* exception;
    DWORD crashingThread;
};

std::atomic<const std::string*> dumpFolder{nullptr};
// Only the first crash is dumped; later ones go straight to the system's handling.
std::atomic<bool> dumpTaken{false};

std::string NewDumpPath(const std::string& folder) {
    UUID id{};
    RPC_CSTR text = nullptr;
    if (::UuidCreate(&id) != RPC_S_OK || ::UuidToStringA(&id, &text) != RPC_S_OK) {
        return folder + "\\crash.dmp";
    }
    std::string path = folder + "\\" + reinterpret_cast<const char*>(text) + ".dmp";
    ::RpcStringFreeA(&text);
    return path;
}

DWORD WINAPI WriteDump(LPVOID parameter) {
    const auto* request = static_cast<const DumpRequest*>(parameter);
    const std::string path = NewDumpPath(*request->folder);
    // The dump holds the process's memory, secrets included.
    const sys::win::KernelHandle file =
        sys::win::CreatePrivateFile(path, GENERIC_WRITE, 0, CREATE_NEW);
    if (!file) {
        return ::GetLastError();
    }
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = request->crashingThread;
    exception.ExceptionPointers = request->exception;
    exception.ClientPointers = FALSE;
    const BOOL written =
        ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(),
                            MiniDumpNormal, &exception, nullptr, nullptr);
    return written ? 0 : ::GetLastError();
}

// The dump is written on a thread of its own, so that a crash that has used up its own
// thread's stack still gets one, and dbghelp sees the crashing thread stopped.
LONG WINAPI DumpAndContinue(EXCEPTION_POINTERS* exception) {
    const std::string* folder = dumpFolder.load();
    if (folder != nullptr && !dumpTaken.exchange(true)) {
        DumpRequest request{folder, exception, ::GetCurrentThreadId()};
        const sys::win::KernelHandle writer(
            ::CreateThread(nullptr, 0, WriteDump, &request, 0, nullptr));
        if (writer) {
            ::WaitForSingleObject(writer.Get(), INFINITE);
        }
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

CCrashHandler::CCrashHandler(std::string folder)
    : dumpFolder_(std::move(folder)), installed_(dumpFolder.load() == nullptr) {
    if (installed_) {
        // Built now: a crash is no time to build the dump's access list.
        sys::win::PrivateFileAttributes();
        dumpFolder.store(&dumpFolder_);
        ::SetUnhandledExceptionFilter(DumpAndContinue);
    }
}

CCrashHandler::~CCrashHandler() {
    if (installed_) {
        ::SetUnhandledExceptionFilter(nullptr);
        dumpFolder.store(nullptr);
    }
}
