#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "common/err/Errors.h"
#include "common/lang/Event.h"
#include "common/lang/IAThreads.h"
#include "common/sys/CurrentProcess.h"

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

class ThrowingThread : public lang::IAThread {
public:
    std::uint32_t Run(std::uint32_t) override { throw 5; }
};

TEST(ThreadDeathTest, AForeignExceptionLeavesTheThreadAsAThreadError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            std::set_terminate([] {
                try {
                    std::rethrow_exception(std::current_exception());
                } catch (const lang::CThreadError& e) {
                    std::fprintf(stderr, "%s:%d %s value=%d\n", e.Source(), e.Line(), e.Message(),
                                 e.Value());
                } catch (...) {
                }
                std::abort();
            });
            ThrowingThread thread;
            thread.Start();
            thread.WaitForEnd();
        },
        "common.lang.IAThreads:70 Unrecoverable Thread Error value=-1");
}

}  // namespace
