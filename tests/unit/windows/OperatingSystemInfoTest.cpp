#include "common/sys/windows/OperatingSystemSources.h"
#include "tests/support/TestBasics.h"

namespace {

// The WMI of the test's Wine prefix, whose Windows version is pinned to Windows 10.
TEST(OperatingSystemInfoTest, FillsTheRecordFromWmiAndLeavesNullPropertiesAlone) {
    sys::OperatingSystemInfo info;
    info.CSDVersion = "kept";  // no service pack: WMI gives a null
    info.Query();
    EXPECT_EQ(info.GetSystemDrive(), "C:");
    EXPECT_NE(info.Name.find("Windows 10"), std::string::npos) << info.Name;
    EXPECT_EQ(info.Version.rfind("10.0.", 0), 0u) << info.Version;
    EXPECT_EQ(info.OSArchitecture, "64-bit");
    EXPECT_EQ(info.ProductType, 1u);
    EXPECT_TRUE(info.Primary);
    EXPECT_EQ(info.CSDVersion, "kept");
    // COM's security, set once per process, is found set by the second query.
    sys::OperatingSystemInfo again;
    again.Query();
    EXPECT_EQ(again.Version, info.Version);

    sys::OperatingSystemInfo bare;
    sys::QueryOperatingSystem(bare, {L"ROOT\\CIMV2", L"Win32_NoSuchClass"});
    sys::QueryOperatingSystem(bare, {L"ROOT\\NoSuchNamespace", L"Win32_OperatingSystem"});
    EXPECT_EQ(bare.GetSystemDrive(), "");
    EXPECT_FALSE(bare.Primary);
}

}  // namespace
