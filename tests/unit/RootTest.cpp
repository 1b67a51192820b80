#include <gtest/gtest.h>

#include "common/sys/Root.h"
#include "tests/support/ScopedRoot.h"

namespace {

TEST(RootTest, WithoutCorvaneRootEverythingIsUnderSlash) {
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        scratch::ScopedRoot root(unset);
        EXPECT_EQ(sys::RootPath(), "/");
        EXPECT_FALSE(sys::IsRootRelocated());
        EXPECT_EQ(sys::UnderRoot("etc/corvane/registry.reg"), "/etc/corvane/registry.reg");
        EXPECT_EQ(sys::UnderRoot("/run/utmp"), "/run/utmp");
    }
}

TEST(RootTest, CorvaneRootMovesEveryLocationWithoutDoubledSeparators) {
    for (const char* relocated : {"/tmp/trial", "/tmp/trial/"}) {
        scratch::ScopedRoot root(relocated);
        EXPECT_EQ(sys::RootPath(), relocated);
        EXPECT_TRUE(sys::IsRootRelocated());
        EXPECT_EQ(sys::UnderRoot("etc/corvane/registry.reg"),
                  "/tmp/trial/etc/corvane/registry.reg");
        EXPECT_EQ(sys::UnderRoot("//run/utmp"), "/tmp/trial/run/utmp");
        EXPECT_EQ(sys::UnderRoot(""), "/tmp/trial/");
    }
}

}  // namespace
