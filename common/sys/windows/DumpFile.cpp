#include "common/sys/windows/DumpFile.h"

// dbghelp.h needs the declarations of windows.h before it.
// clang-format off
#include <windows.h>
#include <dbghelp.h>
#include <rpc.h>
// clang-format on

#include "common/sys/windows/Owned.h"
#include "common/util/windows/PrivateAccess.h"

namespace sys::win {

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
KernelHandle OpenDumpFile(const std::string& path) {
    return util::win::CreatePrivateFile(path, GENERIC_WRITE, 0, CREATE_NEW);
}

}  // namespace

std::string WriteDumpFile(const std::string& folder, EXCEPTION_POINTERS* exception,
                          DWORD crashingThread) {
    std::string path = NewDumpPath(folder);
    const KernelHandle file = OpenDumpFile(path);
    if (!file) {
        return {};
    }
    MINIDUMP_EXCEPTION_INFORMATION where{};
    where.ThreadId = crashingThread;
    where.ExceptionPointers = exception;
    where.ClientPointers = FALSE;
    const bool written =
        ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(),
                            MiniDumpNormal, &where, nullptr, nullptr) != FALSE;
    return written ? path : std::string();
}

}  // namespace sys::win
