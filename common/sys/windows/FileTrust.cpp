#include "common/sys/FileTrust.h"

// aclapi.h and sddl.h need the declarations of windows.h before them.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <array>
#include <string_view>

#include "common/sys/windows/DescriptorTrust.h"
#include "common/sys/windows/Owned.h"
#include "common/sys/windows/SystemMessage.h"

namespace sys {

namespace {

using LocalMemory = win::Owned<HLOCAL, ::LocalFree>;

// SYSTEM, Administrators and TrustedInstaller, who install and service the system.
constexpr std::array<std::string_view, 3> kTrustedAccounts = {
    "S-1-5-18", "S-1-5-32-544", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};

// Rights that change what a file says or what a folder holds, or hand those rights on.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                     DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool IsTrusted(PSID sid) {
    char* text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidA(sid, &text)) {
        return false;
    }
    const LocalMemory owned(text);
    for (std::string_view trusted : kTrustedAccounts) {
        if (trusted == text) {
            return true;
        }
    }
    return false;
}

// An entry that allows someone else to write. Denials only take rights away, and other
// kinds of entry do not appear on files.
bool LetsOthersWrite(const ACE_HEADER* header) {
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 ||
        (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
         header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)) {
        return false;
    }
    // A callback entry starts as a plain one does.
    const auto* entry = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    return (entry->Mask & kWriteRights) != 0 && !IsTrusted(const_cast<DWORD*>(&entry->SidStart));
}

bool ListLetsOthersWrite(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted)) {
        return true;
    }
    // No list at all lets everyone do everything.
    if (!present || list == nullptr) {
        return true;
    }
    for (DWORD index = 0; index < list->AceCount; ++index) {
        void* header = nullptr;
        if (!::GetAce(list, index, &header) ||
            LetsOthersWrite(static_cast<const ACE_HEADER*>(header))) {
            return true;
        }
    }
    return false;
}

// The account the process runs as does not change while it runs.
bool RunsAsLocalSystem() {
    win::KernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) {
        return false;
    }
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    return ::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) &&
           ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
}

}  // namespace

namespace win {

std::string UntrustedDescriptorReason(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsTrusted(owner)) {
        return "is owned by another user";
    }
    return ListLetsOthersWrite(descriptor) ? "is writable by others" : "";
}

}  // namespace win

namespace trust {

// Administrators' own consoles run elevated but are not the service: as with a user's run
// on Linux, files are checked for the service's account only. Wine runs everything as the
// prefix's user, whose files it reports as that user's.
bool RunsWithSystemRights() {
    static const bool localSystem = RunsAsLocalSystem();
    return localSystem;
}

std::string EntryReason(const std::filesystem::path& entry) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::string name = entry.string();
    const DWORD status = ::GetNamedSecurityInfoA(
        name.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        return {};
    }
    if (status != ERROR_SUCCESS) {
        return name + " cannot be checked: " + win::SystemMessage(status);
    }
    const LocalMemory owned(descriptor);
    const std::string reason = win::UntrustedDescriptorReason(descriptor);
    return reason.empty() ? reason : name + " " + reason;
}

}  // namespace trust

}  // namespace sys
