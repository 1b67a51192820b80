// sddl.h needs the declarations of windows.h before it.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "common/sys/windows/DescriptorTrust.h"
#include "common/sys/windows/PrivateAccess.h"

namespace {

using LocalMemory = sys::win::Owned<HLOCAL, ::LocalFree>;

std::string Text(PSECURITY_DESCRIPTOR descriptor) {
    char* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &text, nullptr)) {
        return "none";
    }
    const LocalMemory owned(text);
    return text;
}

// What the agent hands the system for every file it writes (the log, the state file and its
// temporary copy, crash dumps) and for its settings key. Wine applies a file's list only as
// far as its file modes go, so the list itself is checked here.
TEST(AccessList, FilesAndTheSettingsKeyAreForTheSystemAndAdministratorsAlone) {
    const SECURITY_ATTRIBUTES* file = sys::win::PrivateFileAttributes();
    EXPECT_EQ(file->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_FALSE(file->bInheritHandle);
    EXPECT_EQ(Text(file->lpSecurityDescriptor), "D:P(A;;FA;;;SY)(A;;FA;;;BA)");
    EXPECT_EQ(Text(sys::win::PrivateKeyDescriptor()), "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
}

// Wine reports every file as its user's, so the verdict on a toolbox or a command file is
// checked on lists made here: only SYSTEM, Administrators and TrustedInstaller may own it or
// change it; reading, denials and what only the folder's new files inherit do not matter.
TEST(AccessList, ACommandFileIsTrustedWhenOnlyTheSystemsAdministratorsMayChangeIt) {
    const std::string installer = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const std::string owned = "is owned by another user";
    const std::string writable = "is writable by others";
    struct Row {
        std::string descriptor;
        std::string reason;
    };
    const std::vector<Row> rows = {
        {"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)", ""},
        {"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;GR;;;WD)", ""},
        {"O:" + installer + "D:(A;;FA;;;" + installer + ")(A;;0x1200a9;;;BA)", ""},
        {"O:BAD:(A;OICIIO;GA;;;CO)(D;;FA;;;BU)(A;;FA;;;SY)", ""},
        {"O:BUD:P(A;;FA;;;SY)(A;;FA;;;BA)", owned},
        {"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", owned},
        {"D:P(A;;FA;;;SY)", owned},
        {"O:BAD:(A;;FA;;;SY)(A;;0x1301bf;;;AU)", writable},
        {"O:BAD:(A;;FW;;;WD)", writable},
        {"O:BAD:(A;;GA;;;BU)", writable},
        {"O:SYD:(A;;GW;;;S-1-5-21-1-2-3-1001)", writable},
        {"O:SYD:(A;;0x2;;;BU)", writable},   // a folder: add a file
        {"O:SYD:(A;;0x40;;;BU)", writable},  // a folder: delete what it holds
        {"O:SYD:(A;;SD;;;BU)", writable},
        {"O:SYD:(A;;WD;;;BU)", writable},
        {"O:SYD:(A;;WO;;;IU)", writable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.descriptor);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
            row.descriptor.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
        const LocalMemory owned(descriptor);
        EXPECT_EQ(sys::win::UntrustedDescriptorReason(descriptor), row.reason);
    }
    // No list at all lets everyone do everything (Wine's reading of "D:NO_ACCESS_CONTROL"
    // gives an empty list instead, so it is made here).
    SECURITY_DESCRIPTOR open{};
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof system;
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
    ASSERT_TRUE(::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorOwner(&open, system, FALSE));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_EQ(sys::win::UntrustedDescriptorReason(&open), writable);
}

}  // namespace
