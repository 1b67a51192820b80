// The service entry's control table and status reports, driven in-process through a status
// handle of the test's own.

#include <gtest/gtest.h>
#include <vector>

#include "agent/QxaServiceEntry.h"
#include "agent/ServiceControl.h"
#include "agent/ServiceUnit.h"
#include "common/err/Errors.h"

namespace {

using namespace WindowsServices;

class RecordingHandle final : public IStatusHandle {
public:
    bool SetServiceStatus(const ServiceStatus& status) override {
        reports.push_back(status);
        return delivers;
    }
    std::vector<ServiceStatus> reports;
    bool delivers = true;
};

class ServiceEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        entry = QxaServiceEntry::GetInstance();
        ASSERT_NE(entry, nullptr);
        entry->SetStatusHandle(&handle);
    }
    void TearDown() override { entry->SetStatusHandle(nullptr); }

    std::uint32_t Control(std::uint32_t control, std::uint32_t eventType = 0) {
        return entry->GetControlHandler()(control, eventType, nullptr, entry);
    }

    QxaServiceEntry* entry = nullptr;
    RecordingHandle handle;
};

TEST_F(ServiceEntryTest, ControlsOutsideTheTableAreNotImplementedAndReportNothing) {
    EXPECT_EQ(Control(kControlPause), kCallNotImplemented);
    EXPECT_EQ(Control(200), kCallNotImplemented);
    EXPECT_EQ(Control(kControlInterrogate), 0u);
    EXPECT_EQ(Control(kControlContinue), 0u);
    // A session lock is only logged; without a running agent a logon reaches nobody.
    EXPECT_EQ(Control(kControlSessionChange, kSessionLock), 0u);
    EXPECT_EQ(Control(kControlSessionChange, kSessionLogon), 0u);
    EXPECT_TRUE(handle.reports.empty());
}

// No bootstrap thread was ever started: the stop completes at once.
TEST_F(ServiceEntryTest, StopWithoutABootstrapThreadEndsStoppedWithGrowingCheckPoints) {
    EXPECT_EQ(Control(kControlShutdown), 0u);
    ASSERT_EQ(handle.reports.size(), 2u);
    EXPECT_EQ(handle.reports[0].currentState, kServiceStopPending);
    EXPECT_EQ(handle.reports[1].currentState, kServiceStopped);
    EXPECT_EQ(handle.reports[1].checkPoint, handle.reports[0].checkPoint + 1);
    EXPECT_EQ(handle.reports[0].serviceType, 16u);
    EXPECT_EQ(handle.reports[0].controlsAccepted, 0x85u);
    EXPECT_EQ(handle.reports[0].waitHint, 5000u);
}

TEST_F(ServiceEntryTest, AFailingReportRaisesFromReportStatusButNotFromTheHandler) {
    handle.delivers = false;
    EXPECT_EQ(Control(kControlStop), 0u);
    EXPECT_EQ(handle.reports.size(), 2u);
    try {
        entry->ReportStatus(kServiceRunning, 0, 5000);
        ADD_FAILURE() << "no error raised";
    } catch (const ServiceControlError& e) {
        EXPECT_STREQ(e.Message(), "Failed to Report Service Status");
        EXPECT_STREQ(e.Source(), "ServiceControl");
    }
}

TEST(ServiceUnitTest, ExecStartKeepsOddPathsWhole) {
    EXPECT_NE(UnitText("A", "/opt/my agent/wardex", "-load=a.so")
                  .find("\nExecStart=\"/opt/my agent/wardex\" -load=a.so\n"),
              std::string::npos);
    EXPECT_NE(UnitText("A", "/opt/100%/wardex", "-load=$x.so")
                  .find("\nExecStart=/opt/100%%/wardex -load=$$x.so\n"),
              std::string::npos);
}

}  // namespace
