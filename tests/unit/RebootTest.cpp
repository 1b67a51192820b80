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

// Puts a recording restart call in place for one test.
class RecordedRestarts {
public:
    explicit RecordedRestarts(std::uint32_t result) {
        previous_ = sys::SetRestartCall([this, result](bool force) {
            requests_.push_back(force);
            return result;
        });
    }
    ~RecordedRestarts() { sys::SetRestartCall(previous_); }
    RecordedRestarts(const RecordedRestarts&) = delete;
    RecordedRestarts& operator=(const RecordedRestarts&) = delete;

    const std::vector<bool>& Requests() const { return requests_; }

private:
    sys::RestartCall previous_;
    std::vector<bool> requests_;
};

// Run without CORVANE_ROOT, as CTest runs it.
TEST(RebootTest, OnTheRealRootTheRestartCallGetsTheForceFlagAndGivesTheResult) {
    ASSERT_TRUE(kRealRestartBarred);
    RecordedRestarts restarts(1314);
    EXPECT_EQ(sys::Reboot(true), 1314u);
    EXPECT_EQ(sys::Reboot(false), 1314u);
    EXPECT_EQ(restarts.Requests(), (std::vector<bool>{true, false}));
}

}  // namespace
