// The service entry between the service manager and the bootstrap: a status handle of the
// test's own records every report and the thread it came from, and the test's clock holds the
// bootstrap in its first reconnect wait, so that a stop finds it busy.

#include <exception>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "agent/service/QxaServiceEntry.h"
#include "tests/bootstrap/BootstrapFixture.h"

namespace {

using namespace WindowsServices;

struct Report {
    std::uint32_t state;
    std::uint32_t waitHint;
    std::uint32_t exitCode;
    std::uint32_t checkPoint;
    bool fromControlThread;
};

// The service manager's side. A stop report that comes from the control thread once the stop
// has been reported means the handler waits for the bootstrap: it is counted, and the hold is
// let go so that the test still ends. The report of the state given raises the error given.
class RecordingStatus final : public IStatusHandle {
public:
    bool SetServiceStatus(const ServiceStatus& status) override {
        std::lock_guard guard(lock_);
        if (status.currentState == failAt && failure) {
            std::rethrow_exception(std::exchange(failure, nullptr));
        }
        const bool fromControl = std::this_thread::get_id() == controlThread;
        if (fromControl && status.currentState == kServiceStopPending && !reports_.empty() &&
            reports_.back().state == kServiceStopPending) {
            ++handlerWaits;
            release.Set();
        }
        reports_.push_back({status.currentState, status.waitHint, status.win32ExitCode,
                            status.checkPoint, fromControl});
        controlsAccepted = status.controlsAccepted;
        return true;
    }
    std::vector<Report> Reports() {
        std::lock_guard guard(lock_);
        return reports_;
    }

    std::thread::id controlThread;
    std::uint32_t failAt = 0;
    std::exception_ptr failure;
    int handlerWaits = 0;
    std::uint32_t controlsAccepted = 0;
    lang::CEvent release{lang::EventReset::Manual};

private:
    std::mutex lock_;
    std::vector<Report> reports_;
};

// One life of a service, on an entry of its own: the main routine on a thread, and a
// bootstrap that stays in its first wait until the status lets it go.
class ServiceLife {
public:
    ServiceLife(bootstraptest::RecordingClock& clock, const std::string& programFolder,
                const util::ParamList& toolboxes)
        : entry(clock, programFolder) {
        clock.onWait = [this](std::size_t) {
            held.Set();
            status.release.Wait(lang::kInfinite);
        };
        entry.SetToolboxList(toolboxes);
    }
    ~ServiceLife() {
        status.release.Set();
        End();
    }
    void Start() {
        main_ = std::thread([this] {
            EXPECT_NO_THROW(entry.Serve(status));
            held.Set();  // a main routine that ended early keeps the test from waiting for ever
        });
    }
    void End() {
        if (main_.joinable()) {
            main_.join();
        }
    }

    RecordingStatus status;
    lang::CEvent held{lang::EventReset::Manual};
    QxaServiceEntry entry;

private:
    std::thread main_;
};

class ServiceEntryTest : public bootstraptest::BootstrapTest {
protected:
    std::unique_ptr<ServiceLife> NewLife() {
        return std::make_unique<ServiceLife>(clock_, world_.ProgramFolder(), toolboxes_);
    }
    // The log's folder removed; each run of the bootstrap makes it anew, as it takes the
    // log's name from the settings.
    void RemoveLogFolder() {
        const std::string folder = world_.Scratch() / "logs";
        world_.Store({{"LogFile", folder + "/agent.log"}});
        logging::CAgentLog::GetInstance()->SetLogParams(true, true, true, folder + "/agent.log",
                                                        10000000);
        std::filesystem::remove_all(folder);
    }
};

// Stop, shutdown and preshutdown are answered while the bootstrap is still busy; the main
// routine then reports the stop every period until the bootstrap has ended, and STOPPED last,
// every report one check point further, also when no line of the log can be written.
TEST_F(ServiceEntryTest, TheHandlerReturnsAtOnceAndTheMainRoutineEndsTheBusyBootstrap) {
    struct Case {
        std::uint32_t control;
        bool logWritable;
    };
    for (const Case c : {Case{kControlStop, true}, Case{kControlShutdown, true},
                         Case{kControlPreshutdown, false}}) {
        SCOPED_TRACE(c.control);
        if (!c.logWritable) {
            RemoveLogFolder();
        }
        const auto life = NewLife();
        life->Start();
        ASSERT_TRUE(life->held.Wait(lang::kInfinite));
        if (!c.logWritable) {
            RemoveLogFolder();
        }
        life->status.controlThread = std::this_thread::get_id();
        EXPECT_EQ(life->entry.Control(c.control, 0), 0u);
        EXPECT_EQ(life->entry.Control(kControlStop, 0), 0u) << "a second stop changes nothing";
        EXPECT_FALSE(life->status.release.IsSet()) << "the handler waited for the bootstrap";
        life->status.release.Set();
        life->End();

        const std::vector<Report> reports = life->status.Reports();
        ASSERT_GE(reports.size(), 5u);
        EXPECT_EQ(life->status.handlerWaits, 0);
        EXPECT_EQ(life->status.controlsAccepted,
                  kAcceptStop | kAcceptShutdown | kAcceptSessionChange | kAcceptPreshutdown);
        const std::uint32_t firstStates[] = {kServiceStartPending, kServiceRunning,
                                             kServiceStopPending};
        for (std::size_t i = 0; i < reports.size(); ++i) {
            SCOPED_TRACE(i);
            const Report& r = reports[i];
            EXPECT_EQ(r.checkPoint, i + 1);
            EXPECT_EQ(r.exitCode, 0u);
            EXPECT_EQ(r.fromControlThread, i == 2);
            if (i < 3) {
                EXPECT_EQ(r.state, firstStates[i]);
            } else if (i + 1 < reports.size()) {
                EXPECT_EQ(r.state, kServiceStopPending);
                EXPECT_EQ(r.waitHint, 3000u);
            }
        }
        EXPECT_EQ(reports.back().state, kServiceStopped);
    }
    for (const char* line : {"Received SERVICE_CONTROL_STOP", "Signal Bootstrap to exit",
                             "thread exited, sending  SERVICE_STOPPED"}) {
        EXPECT_EQ(world_.LogCount(line), 2u) << line;
    }
}

// An error that is not the agent's own (no memory, no thread, no lock) ends the service all
// the same: the bootstrap is ended and STOPPED reported with the exit code that tells the
// service manager to apply the failure actions.
TEST_F(ServiceEntryTest, AnUnexpectedErrorEndsTheServiceWithStoppedAndAnExitCode) {
    struct Case {
        std::uint32_t failAt;
        std::exception_ptr failure;
    };
    const Case cases[] = {
        {kServiceStartPending, std::make_exception_ptr(std::bad_alloc())},
        {kServiceRunning,
         std::make_exception_ptr(std::system_error(std::make_error_code(std::errc::io_error)))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failAt);
        const auto life = NewLife();
        life->status.failAt = c.failAt;
        life->status.failure = c.failure;
        life->status.release.Set();
        life->Start();
        life->End();
        const std::vector<Report> reports = life->status.Reports();
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back().state, kServiceStopped);
        EXPECT_EQ(reports.back().exitCode, kExceptionInService);
    }
    EXPECT_EQ(world_.LogCount("the service's start failed"), 2u);
    EXPECT_EQ(world_.LogCount("std::bad_alloc"), 1u);
    EXPECT_EQ(world_.LogCount("Start the Bootstrap thread"), 1u) << "only after the first report";
}

}  // namespace
