#include <cerrno>
#include <gtest/gtest.h>

#include "common/sys/Reboot.h"
#include "common/sys/Root.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/ScratchFiles.h"

namespace {

TEST(RootTest, CorvaneRootMovesEveryLocationWithoutDoubledSeparators) {
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        scratch::ScopedRoot root(unset);
        EXPECT_FALSE(sys::IsRootRelocated());
        EXPECT_EQ(sys::UnderRoot("etc/corvane/registry.reg"), "/etc/corvane/registry.reg");
    }
    for (const char* relocated : {"/tmp/trial", "/tmp/trial/"}) {
        scratch::ScopedRoot root(relocated);
        EXPECT_TRUE(sys::IsRootRelocated());
        EXPECT_EQ(sys::UnderRoot("//run/utmp"), "/tmp/trial/run/utmp") << relocated;
    }
}

// The restart call itself is barred in this program (RebootTest); the request a restart leaves
// under a relocated root is read by the bootstrap's tests.
TEST(RootTest, ARelocatedRootWhereTheRequestCannotBeRecordedGivesTheError) {
    scratch::ScratchFolder blocked;
    scratch::WriteFile(blocked / "run", "a file where the folder belongs\n");
    scratch::ScopedRoot blockedRoot(blocked.Path().c_str());
    EXPECT_EQ(sys::Reboot(true), static_cast<std::uint32_t>(ENOTDIR));
}

}  // namespace
