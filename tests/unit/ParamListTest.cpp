#include <gtest/gtest.h>

#include "common/util/ParamList.h"

namespace {

TEST(ParamList, KeepsArgumentsInOrderFindsByPrefixAndCopiesIndependently) {
    const char* argv[] = {"wardex", "x-debug", "-debugger", "-debug"};
    util::ParamList params;
    params.AddArgs(4, argv);
    params.AddArgs(0, argv);
    ASSERT_EQ(params.Count(), 4u);
    EXPECT_STREQ(params.At(0), "wardex");
    EXPECT_EQ(params.At(4), nullptr);
    EXPECT_EQ(params.Find("-debug"), 2u) << "the first element that begins with the option";
    EXPECT_EQ(params.Find("-debugger-more"), util::ParamList::npos);

    util::ParamList copy;
    copy.Add("other");
    copy.Assign(params);
    params.Add("c.so");
    ASSERT_EQ(copy.Count(), 4u) << "the copy does not follow the original";
    EXPECT_STREQ(copy.At(3), "-debug");
    copy.Clear();
    EXPECT_EQ(copy.At(0), nullptr);
}

}  // namespace
