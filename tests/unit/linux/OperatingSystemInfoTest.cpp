#include <utmp.h>

#include <sys/utsname.h>

#include "common/sys/linux/OperatingSystemSources.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/TestBasics.h"
#include "tests/support/UtmpFile.h"

namespace {

using scratch::WriteFile;

// A machine described by files: os-release, a /proc with mounts, pid_max and three
// processes, and a utmp with two user sessions.
TEST(OperatingSystemInfoTest, FillsTheRecordFromTheSystemSources) {
    scratch::ScratchFolder folder;
    scratch::ScopedRoot root(folder.Path().c_str());
    WriteFile(
        folder / "os-release",
        "# comment=ignored\nNAME=TestOS\nPRETTY_NAME=\"Test OS 7 (\\\"Quoted\\\")\"\nbroken\n");
    std::filesystem::create_directories(folder / "proc/sys/kernel");
    for (const char* entry : {"1", "42", "1234", "12a", "self"}) {
        std::filesystem::create_directories(folder / ("proc/" + std::string(entry)));
    }
    WriteFile(folder / "proc/self/mounts",
              "rootfs / rootfs rw 0 0\n/dev/mapper/vg\\040root / ext4 rw,relatime 0 0\n"
              "/dev/sda1 /boot ext2 rw 0 0\n/dev/sdb1 /boot/efi vfat rw 0 0\n");
    WriteFile(folder / "proc/sys/kernel/pid_max", "4194304\n");
    scratch::WriteUtmp(folder / "utmp", {{USER_PROCESS, "someone"},
                                         {LOGIN_PROCESS, "someone"},
                                         {USER_PROCESS, "someone"},
                                         {DEAD_PROCESS, "someone"}});
    sys::OperatingSystemSources sources;
    sources.osReleaseFiles = {folder / "missing-os-release", folder / "os-release"};
    sources.procFolder = folder / "proc";
    sources.utmpFile = folder / "utmp";
    sys::OperatingSystemInfo info;
    sys::QueryOperatingSystem(info, sources);

    utsname kernel{};
    ASSERT_EQ(::uname(&kernel), 0);
    EXPECT_EQ(info.Name, "Test OS 7 (\"Quoted\")");
    EXPECT_EQ(info.Manufacturer, "TestOS");
    EXPECT_EQ(info.Version, kernel.release);
    EXPECT_EQ(info.OSArchitecture, kernel.machine);
    EXPECT_EQ(info.SystemDevice, "/dev/mapper/vg root");
    EXPECT_EQ(info.BootDevice, "/dev/sda1");
    EXPECT_EQ(info.MaxNumberOfProcesses, 4194304u);
    EXPECT_EQ(info.NumberOfProcesses, 3u);
    EXPECT_EQ(info.NumberOfUsers, 2u);
    EXPECT_EQ(info.GetSystemDrive(), folder.Path().string());

    // Without its sources a field stays empty, and the real root is the system drive.
    scratch::ScopedRoot realRoot(nullptr);
    sources = {{folder / "none"}, folder / "no-proc", folder / "no-utmp"};
    sys::OperatingSystemInfo bare;
    EXPECT_NO_THROW(sys::QueryOperatingSystem(bare, sources));
    EXPECT_EQ(bare.Name + "|" + std::to_string(bare.NumberOfProcesses) + "|" +
                  std::to_string(bare.NumberOfUsers) + "|" + bare.GetSystemDrive(),
              "|0|0|/");
}

}  // namespace
