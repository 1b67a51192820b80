// aclapi.h and sddl.h need the declarations of windows.h before them.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <filesystem>
#include <string>

#include "common/sys/windows/Owned.h"
#include "tests/bootstrap/BootstrapFixture.h"
#include "tests/support/ScratchFiles.h"

namespace {

using bootstraptest::BootstrapTest;
using LocalMemory = sys::win::Owned<HLOCAL, ::LocalFree>;
using Key = sys::win::Owned<HKEY, ::RegCloseKey>;

constexpr const char* kSettingsKey = "Software\\Corvane\\Client Service";

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(sid, &text)) {
        return "?";
    }
    const LocalMemory owned(text);
    return text;
}

// The accounts besides SYSTEM, Administrators and the file's owner whose entries the file's
// list has, one after another. Wine keeps no list on files: it reports one made from the
// file's modes, in which a file that everyone may read lets in Everyone ("S-1-1-0").
std::string OthersLetIn(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL list = nullptr;
    if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "unreadable";
    }
    const LocalMemory owned(descriptor);
    std::string others;
    for (DWORD index = 0; list != nullptr && index < list->AceCount; ++index) {
        void* entry = nullptr;
        ::GetAce(list, index, &entry);
        const std::string sid = SidText(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart);
        if (sid != "S-1-5-18" && sid != "S-1-5-32-544" && sid != SidText(owner)) {
            others += sid + " ";
        }
    }
    return list == nullptr ? "everyone" : others;
}

std::string KeyListText() {
    Key key;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, READ_CONTROL, key.Put()) !=
            ERROR_SUCCESS ||
        ::GetSecurityInfo(key.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "unreadable";
    }
    const LocalMemory owned(descriptor);
    char* text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    const LocalMemory ownedText(text);
    return text != nullptr ? text : "none";
}

// The settings key as an administrator or a policy may have made it before the agent: its
// list inherited, users allowed to read.
void GiveUsersTheKey() {
    Key key;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, WRITE_DAC, key.Put()),
              ERROR_SUCCESS);
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:AI(A;CIID;KR;;;BU)(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)", SDDL_REVISION_1, &descriptor,
        nullptr));
    const LocalMemory owned(descriptor);
    ASSERT_EQ(::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
}

// What may hold secrets is for the system and administrators alone: the settings key, also
// one found with users allowed to read, carries exactly that list (read back: Wine keeps a
// key's list); the log and the state file, also when a temporary copy readable by everyone
// was left over, let nobody else in as far as Wine shows it (the whole list is checked where
// it is built, AccessListTest).
TEST_F(BootstrapTest, TheSettingsKeyAndTheFilesWrittenAreForTheSystemAndAdministrators) {
    GiveUsersTheKey();
    const std::string stateFile = world_.StateFile();
    std::filesystem::remove(world_.LogPath());
    scratch::WriteFile(stateFile + ".tmp", "left over");
    ASSERT_NE(OthersLetIn(stateFile + ".tmp"), "") << "Wine shows a file everyone may read";
    bootstrap_.RunOnce(toolboxes_, true);
    EXPECT_EQ(KeyListText(), "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    for (const std::string& file : {world_.LogPath(), stateFile}) {
        EXPECT_EQ(OthersLetIn(file), "") << file;
    }
}

}  // namespace
