#include <gtest/gtest.h>

#include "common/util/ParamList.h"

namespace {

TEST(ParamList, KeepsEveryArgumentInOrder) {
    const char* argv[] = {"wardex", "-debug", "-load=a.so,b.so"};
    util::ParamList params;
    params.AddArgs(3, argv);
    ASSERT_EQ(params.Count(), 3u);
    EXPECT_STREQ(params.At(0), "wardex");
    EXPECT_STREQ(params.At(2), "-load=a.so,b.so");
    EXPECT_EQ(params.At(3), nullptr);
    params.AddArgs(0, argv);
    EXPECT_EQ(params.Count(), 3u);
}

TEST(ParamList, FindMatchesTheFirstElementThatBeginsWithTheOption) {
    util::ParamList params;
    params.Add("wardex");
    params.Add("x-debug");
    params.Add("-debugger");
    params.Add("-debug");
    EXPECT_EQ(params.Find("-debug"), 2u);
    EXPECT_EQ(params.Find("-help"), util::ParamList::npos);
    EXPECT_EQ(params.Find("-debugger-more"), util::ParamList::npos);
}

TEST(ParamList, AssignCopiesAndClearEmpties) {
    util::ParamList first;
    first.Add("a.so");
    first.Add("b.so");
    util::ParamList second;
    second.Add("other");
    second.Assign(first);
    ASSERT_EQ(second.Count(), 2u);
    EXPECT_STREQ(second.At(1), "b.so");
    first.Add("c.so");
    EXPECT_EQ(second.Count(), 2u) << "the copy does not follow the original";
    second.Clear();
    EXPECT_EQ(second.Count(), 0u);
    EXPECT_EQ(second.At(0), nullptr);
}

}  // namespace
