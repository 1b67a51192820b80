#include "agent/program/windows/DumpFile.h"

// dbghelp.h needs the declarations of windows.h before it.
// clang-format off
#include <windows.h>
#include <dbghelp.h>
#include <rpc.h>
// clang-format on

#include "common/sys/windows/Owned.h"
#include "common/util/windows/PrivateAccess.h"

namespace {

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

// The dump holds the process's memory, secrets included.
sys::win::KernelHandle OpenDumpFile(const std::string& path) {
    return util::win::CreatePrivateFile(path, GENERIC_WRITE, 0, CREATE_NEW);
}

}  // namespace

bool WriteDumpFile(const std::string& folder, EXCEPTION_POINTERS* exception, DWORD crashingThread) {
    const sys::win::KernelHandle file = OpenDumpFile(NewDumpPath(folder));
    if (!file) {
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION where{};
    where.ThreadId = crashingThread;
    where.ExceptionPointers = exception;
    where.ClientPointers = FALSE;
    return ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(),
                               MiniDumpNormal, &where, nullptr, nullptr) != FALSE;
}
