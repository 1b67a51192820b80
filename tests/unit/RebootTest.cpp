#include <cerrno>
#include <gtest/gtest.h>
#include <vector>

#include "common/sys/Reboot.h"
#include "tests/support/ScopedRoot.h"
#include "tests/support/ScratchFiles.h"

namespace {

// Before any test runs, the real restart is replaced by a call that fails the test which
// reaches it, so no path through Reboot in this program can restart the machine.
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
    explicit RecordedRestarts(std::uint32_t result = 0) {
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

TEST(RebootTest, ARelocatedRootRecordsTheRequestOrItsErrorAndNeverRestarts) {
    ASSERT_TRUE(kRealRestartBarred);
    scratch::ScratchFolder folder;
    scratch::ScopedRoot root(folder.Path().c_str());
    RecordedRestarts restarts;
    EXPECT_EQ(sys::Reboot(true), 0u);
    EXPECT_EQ(scratch::ReadFile(folder / "run/corvane/reboot-requested"), "force=1\n");
    EXPECT_EQ(sys::Reboot(false), 0u);
    EXPECT_EQ(scratch::ReadFile(folder / "run/corvane/reboot-requested"), "force=0\n");

    scratch::ScratchFolder blocked;
    scratch::WriteFile(blocked / "run", "a file where the folder belongs\n");
    scratch::ScopedRoot blockedRoot(blocked.Path().c_str());
    EXPECT_EQ(sys::Reboot(true), static_cast<std::uint32_t>(ENOTDIR));
    EXPECT_TRUE(restarts.Requests().empty());
}

TEST(RebootTest, OnTheRealRootTheRestartCallGetsTheForceFlagAndGivesTheResult) {
    scratch::ScopedRoot root(nullptr);
    RecordedRestarts restarts(1314);
    EXPECT_EQ(sys::Reboot(true), 1314u);
    EXPECT_EQ(sys::Reboot(false), 1314u);
    EXPECT_EQ(restarts.Requests(), (std::vector<bool>{true, false}));
}

}  // namespace
