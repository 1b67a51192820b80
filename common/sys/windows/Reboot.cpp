#include <windows.h>

#include "common/sys/RestartMachine.h"
#include "common/sys/windows/Owned.h"

namespace sys {

namespace {

// A process needs the shutdown privilege enabled in its token to restart the machine. When
// that fails, the restart call reports why.
void EnableShutdownPrivilege() {
    const win::KernelHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId()));
    win::KernelHandle token;
    if (!process ||
        !::OpenProcessToken(process.Get(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) {
        return;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
        ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
}

}  // namespace

std::uint32_t RestartMachine(bool force) {
    EnableShutdownPrivilege();
    constexpr DWORD kPlannedReconfiguration =
        SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_SOFTWARE | SHTDN_REASON_MINOR_RECONFIG;
    if (::InitiateSystemShutdownExA(nullptr, nullptr, 0, force, TRUE, kPlannedReconfiguration)) {
        return 0;
    }
    return ::GetLastError();
}

}  // namespace sys
