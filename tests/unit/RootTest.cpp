#include <gtest/gtest.h>

#include "common/sys/Root.h"
#include "tests/support/ScopedRoot.h"

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

}  // namespace
