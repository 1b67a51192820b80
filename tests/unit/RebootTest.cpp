#include <cerrno>
#include <gtest/gtest.h>
#include <vector>

#include "common/sys/Reboot.h"

namespace {

// Before any test of this program runs, the real restart is replaced by a call that fails
// the test which reaches it, so no path through Reboot in this program can restart the
// machine.
const bool kRealRestartBarred = [] {
    sys::SetRestartCall([](bool) -> std::uint32_t {
        ADD_FAILURE() << "the restart call was reached";
        return EPERM;
    });
    return true;
}();

// Run without CORVANE_ROOT, as CTest runs it.
TEST(RebootTest, OnTheRealRootTheRestartCallGetsTheForceFlagAndGivesTheResult) {
    ASSERT_TRUE(kRealRestartBarred);
    std::vector<bool> requests;
    const sys::RestartCall barred = sys::SetRestartCall([&requests](bool force) {
        requests.push_back(force);
        return std::uint32_t{1314};
    });
    EXPECT_EQ(sys::Reboot(true), 1314u);
    EXPECT_EQ(sys::Reboot(false), 1314u);
    sys::SetRestartCall(barred);
    EXPECT_EQ(requests, (std::vector<bool>{true, false}));
}

}  // namespace
