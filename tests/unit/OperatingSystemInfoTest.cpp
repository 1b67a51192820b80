#include <utmp.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/utsname.h>

#include "common/sys/OperatingSystemInfo.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/UtmpFile.h"

namespace {

using scratch::ScratchFolder;
using scratch::WriteFile;

// A machine described by files: os-release, a /proc with mounts, pid_max and three
// processes, and a utmp with two user sessions.
sys::OperatingSystemSources FakeMachine(const ScratchFolder& folder) {
    WriteFile(folder / "os-release",
              "# comment=ignored\n"
              "NAME=TestOS\n"
              "PRETTY_NAME=\"Test OS 7 (\\\"Quoted\\\")\"\n"
              "broken line\n");
    std::filesystem::create_directories(folder / "proc/self");
    std::filesystem::create_directories(folder / "proc/sys/kernel");
    for (const char* entry : {"1", "42", "1234", "12a", "self", "sys"}) {
        std::filesystem::create_directories(folder / ("proc/" + std::string(entry)));
    }
    WriteFile(folder / "proc/self/mounts",
              "rootfs / rootfs rw 0 0\n"
              "/dev/mapper/vg\\040root / ext4 rw,relatime 0 0\n"
              "/dev/sda1 /boot ext2 rw 0 0\n"
              "/dev/sdb1 /boot/efi vfat rw 0 0\n");
    WriteFile(folder / "proc/sys/kernel/pid_max", "4194304\n");
    scratch::WriteUtmp(folder / "utmp", {{USER_PROCESS, "someone"},
                                         {LOGIN_PROCESS, "someone"},
                                         {USER_PROCESS, "someone"},
                                         {DEAD_PROCESS, "someone"}});

    sys::OperatingSystemSources sources;
    sources.osReleaseFiles = {folder / "missing-os-release", folder / "os-release"};
    sources.procFolder = folder / "proc";
    sources.utmpFile = folder / "utmp";
    return sources;
}

TEST(OperatingSystemInfoTest, FillsTheRecordFromTheSystemSources) {
    ScratchFolder folder;
    scratch::ScopedRoot root(folder.Path().c_str());
    sys::OperatingSystemInfo info;
    info.Query(FakeMachine(folder));

    utsname kernel{};
    ASSERT_EQ(::uname(&kernel), 0);
    EXPECT_EQ(info.Name, "Test OS 7 (\"Quoted\")");
    EXPECT_EQ(info.Manufacturer, "TestOS");
    EXPECT_EQ(info.Version, kernel.release);
    EXPECT_EQ(info.BuildNumber, kernel.version);
    EXPECT_EQ(info.OSArchitecture, kernel.machine);
    EXPECT_EQ(info.SystemDevice, "/dev/mapper/vg root");
    EXPECT_EQ(info.BootDevice, "/dev/sda1");
    EXPECT_EQ(info.MaxNumberOfProcesses, 4194304u);
    EXPECT_EQ(info.NumberOfProcesses, 3u);
    EXPECT_EQ(info.NumberOfUsers, 2u);
    EXPECT_TRUE(info.Primary);
    EXPECT_EQ(info.SystemDrive, folder.Path().string());
    EXPECT_EQ(info.GetSystemDrive(), folder.Path().string());
}

TEST(OperatingSystemInfoTest, PrefersTheVendorNameAndTheRootDeviceWithoutABootMount) {
    ScratchFolder folder;
    sys::OperatingSystemSources sources = FakeMachine(folder);
    WriteFile(folder / "os-release", "NAME='Plain Name'\nVENDOR_NAME=\"The Vendor\"\n");
    WriteFile(folder / "proc/self/mounts", "/dev/vda / ext4 rw 0 0\n");
    sys::OperatingSystemInfo info;
    info.Query(sources);
    EXPECT_EQ(info.Manufacturer, "The Vendor");
    EXPECT_EQ(info.Name, "");
    EXPECT_EQ(info.BootDevice, "/dev/vda");
}

TEST(OperatingSystemInfoTest, MissingSourcesLeaveTheirFieldsEmpty) {
    ScratchFolder folder;
    scratch::ScopedRoot root(nullptr);
    sys::OperatingSystemSources sources;
    sources.osReleaseFiles = {folder / "none"};
    sources.procFolder = folder / "no-proc";
    sources.utmpFile = folder / "no-utmp";
    sys::OperatingSystemInfo info;
    EXPECT_NO_THROW(info.Query(sources));
    EXPECT_EQ(info.Name, "");
    EXPECT_EQ(info.SystemDevice, "");
    EXPECT_EQ(info.NumberOfProcesses, 0u);
    EXPECT_EQ(info.MaxNumberOfProcesses, 0u);
    EXPECT_EQ(info.NumberOfUsers, 0u);
    EXPECT_EQ(info.GetSystemDrive(), "/");
    EXPECT_FALSE(info.Version.empty());
}

TEST(OperatingSystemInfoTest, TheRunningSystemIsDescribedWithTheRelocatedRootAsSystemDrive) {
    ScratchFolder folder;
    scratch::ScopedRoot root(folder.Path().c_str());
    sys::OperatingSystemInfo info;
    info.Query();
    EXPECT_EQ(info.GetSystemDrive(), folder.Path().string());
    EXPECT_FALSE(info.Name.empty());
    EXPECT_FALSE(info.SystemDevice.empty());
    EXPECT_GT(info.NumberOfProcesses, 0u);
    EXPECT_GT(info.MaxNumberOfProcesses, 0u);
    EXPECT_EQ(info.NumberOfUsers, 0u) << "no utmp under the relocated root";
}

}  // namespace
