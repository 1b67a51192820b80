// aclapi.h and sddl.h need the declarations of windows.h before them.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include "common/sys/windows/Owned.h"
#include "common/util/windows/PrivateAccess.h"
#include "tests/bootstrap/BootstrapFixture.h"
#include "tests/support/TestBasics.h"

namespace {

using bootstraptest::BootstrapTest;
using LocalMemory = sys::win::Owned<HLOCAL, ::LocalFree>;

constexpr const char* kSettingsKey = "Software\\Corvane\\Client Service";

// The descriptor's access list in its text form, "none" when there is no descriptor.
std::string Text(PSECURITY_DESCRIPTOR descriptor) {
    char* text = nullptr;
    if (descriptor != nullptr) {
        ::ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    }
    const LocalMemory owned(text);
    return text != nullptr ? text : "none";
}

// The access list of a file or key as the system reads it back.
std::string ListText(const std::string& name, SE_OBJECT_TYPE type) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::GetNamedSecurityInfoA(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &descriptor);
    const LocalMemory owned(descriptor);
    return Text(descriptor);
}

// What may hold secrets is for the system and administrators alone. The settings key, also
// one that an administrator made first with users allowed to read, carries exactly that
// list (Wine keeps a key's list). Wine keeps none on files but shows their modes as one, in
// which a file that everyone may read lets in Everyone ("WD"): the log and the state file,
// also when a temporary copy readable by everyone was left over, do not; the whole list that
// every file is created with is checked where it is built.
TEST_F(BootstrapTest, TheSettingsKeyAndTheFilesWrittenAreForTheSystemAndAdministrators) {
    sys::win::Owned<HKEY, ::RegCloseKey> key;
    PSECURITY_DESCRIPTOR usersRead = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0,
                              WRITE_DAC | READ_CONTROL | KEY_WOW64_32KEY, key.Put()),
              ERROR_SUCCESS);
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)", SDDL_REVISION_1, &usersRead, nullptr));
    const LocalMemory owned(usersRead);
    ASSERT_EQ(::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, usersRead), ERROR_SUCCESS);
    const std::string stateFile = world_.StateFile();
    std::filesystem::remove(world_.LogPath());
    scratch::WriteFile(stateFile + ".tmp", "left over");
    bootstrap_.RunOnce(toolboxes_, true);
    // Read through the key opened above: a name cannot reach the 32-bit view.
    PSECURITY_DESCRIPTOR keyList = nullptr;
    ::GetSecurityInfo(key.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &keyList);
    const LocalMemory ownedKeyList(keyList);
    EXPECT_EQ(Text(keyList), "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    EXPECT_EQ(ListText(world_.LogPath(), SE_FILE_OBJECT).find(";WD)"), std::string::npos);
    EXPECT_EQ(ListText(stateFile, SE_FILE_OBJECT).find(";WD)"), std::string::npos);
    EXPECT_EQ(Text(util::win::PrivateFileAttributes()->lpSecurityDescriptor),
              "D:P(A;;FA;;;SY)(A;;FA;;;BA)");
}

}  // namespace
