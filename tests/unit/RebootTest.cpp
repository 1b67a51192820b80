#include "common/sys/Reboot.h"
#include "tests/support/TestBasics.h"

namespace {

// Run without CORVANE_ROOT, as CTest runs it. The real restart is replaced before the first
// call and put back after the last.
TEST(RebootTest, OnTheRealRootTheRestartCallGetsTheForceFlagAndGivesTheResult) {
    std::vector<bool> requests;
    const sys::RestartCall real = sys::SetRestartCall([&requests](bool force) {
        requests.push_back(force);
        return std::uint32_t{1314};
    });
    EXPECT_EQ(sys::Reboot(true), 1314u);
    EXPECT_EQ(sys::Reboot(false), 1314u);
    sys::SetRestartCall(real);
    EXPECT_EQ(requests, (std::vector<bool>{true, false}));
}

}  // namespace
