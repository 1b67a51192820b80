// sddl.h needs the declarations of windows.h before it.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <map>

#include "common/sys/windows/DescriptorTrust.h"
#include "common/sys/windows/Owned.h"
#include "tests/support/TestBasics.h"

namespace {

// Wine reports every file as its user's, so the verdict on a toolbox or a command file is
// checked on lists made here: only SYSTEM, Administrators and TrustedInstaller may own it or
// change it; reading, denials and what only the folder's new files inherit do not matter.
// Wine reads "D:NO_ACCESS_CONTROL" as an empty list, so no list at all is not tried.
TEST(AccessList, ACommandFileIsTrustedWhenOnlyTheSystemsAdministratorsMayChangeIt) {
    const std::string installer = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const std::map<std::string, std::vector<std::string>> descriptorsByReason = {
        {"",
         {"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)", "O:BAD:(A;;0x1200a9;;;BU)(A;;GR;;;WD)",
          "O:" + installer + "D:(A;;FA;;;" + installer + ")",
          "O:BAD:(A;OICIIO;GA;;;CO)(D;;FA;;;BU)(A;;FA;;;SY)"}},
        {"is owned by another user", {"O:BUD:P(A;;FA;;;SY)", "D:P(A;;FA;;;SY)"}},
        // Changing the file, adding to or deleting from a folder, taking the file over.
        {"is writable by others",
         {"O:BAD:(A;;0x1301bf;;;AU)", "O:BAD:(A;;FW;;;WD)", "O:BAD:(A;;GA;;;BU)",
          "O:SYD:(A;;GW;;;IU)", "O:SYD:(A;;0x2;;;BU)", "O:SYD:(A;;0x40;;;BU)", "O:SYD:(A;;SD;;;BU)",
          "O:SYD:(A;;WD;;;BU)", "O:SYD:(A;;WO;;;IU)"}},
    };
    for (const auto& [reason, descriptors] : descriptorsByReason) {
        for (const std::string& text : descriptors) {
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
                text.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
            const sys::win::Owned<HLOCAL, ::LocalFree> owned(descriptor);
            EXPECT_EQ(sys::win::UntrustedDescriptorReason(descriptor), reason) << text;
        }
    }
}

}  // namespace
