#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "common/lang/Event.h"

namespace {

TEST(Event, AnAutoResetEventWakesOneWaitAndAManualOneEveryWaitUntilReset) {
    lang::CEvent automatic(lang::EventReset::Auto);
    EXPECT_FALSE(automatic.Wait(20)) << "a timed wait ends without a signal";
    automatic.Set();
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Wait(0)) << "the first wait consumed the signal";

    lang::CEvent manual(lang::EventReset::Manual);
    std::atomic<int> woken{0};
    std::thread first([&] { woken += manual.Wait(lang::kInfinite) ? 1 : 0; });
    std::thread second([&] { woken += manual.Wait(lang::kInfinite) ? 1 : 0; });
    manual.Set();
    first.join();
    second.join();
    EXPECT_EQ(woken, 2);
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0));
}

}  // namespace
