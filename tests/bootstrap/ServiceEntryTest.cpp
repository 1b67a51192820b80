// The service entry between the service manager and the bootstrap: a status handle of the
// test's own records every report and whether the control thread sent it, and the test's
// clock holds the bootstrap in its first reconnect wait, so that a stop finds it busy.

#include <exception>
#include <mutex>
#include <new>
#include <system_error>

#include "agent/service/QxaServiceEntry.h"
#include "tests/bootstrap/BootstrapFixture.h"
#include "tests/support/TestBasics.h"

namespace {

using namespace WindowsServices;

// A report of the stop's progress from the control thread means the handler waits for the
// bootstrap: the hold is let go then, so that the test still ends. The report of the state
// failAt raises the failure given.
class RecordingStatus final : public IStatusHandle {
public:
    bool SetServiceStatus(const ServiceStatus& status) override {
        std::lock_guard guard(lock_);
        if (status.currentState == failAt && failure) {
            std::rethrow_exception(std::exchange(failure, nullptr));
        }
        const bool fromControl = std::this_thread::get_id() == controlThread;
        if (fromControl && status.waitHint == 3000) {
            release.Set();
        }
        reports.push_back(status);
        fromControlThread.push_back(fromControl);
        return true;
    }

    std::thread::id controlThread;
    std::uint32_t failAt = 0;
    std::exception_ptr failure;
    lang::CEvent release{lang::EventReset::Manual};
    std::vector<ServiceStatus> reports;
    std::vector<bool> fromControlThread;

private:
    std::mutex lock_;
};

class ServiceEntryTest : public bootstraptest::BootstrapTest {
protected:
    // One life on an entry of its own: the main routine on a thread; meanwhile, once the
    // bootstrap is held (or the main routine has ended early), the test's thread plays the
    // control thread.
    void Live(RecordingStatus& status, const std::function<void(QxaServiceEntry&)>& control) {
        QxaServiceEntry entry(clock_, world_.ProgramFolder());
        entry.SetToolboxList(toolboxes_);
        lang::CEvent held(lang::EventReset::Manual);
        clock_.onWait = [&](std::size_t) {
            held.Set();
            status.release.Wait(lang::kInfinite);
        };
        status.controlThread = std::this_thread::get_id();
        std::thread main([&] {
            EXPECT_NO_THROW(entry.Serve(status));
            held.Set();
        });
        held.Wait(lang::kInfinite);
        control(entry);
        status.release.Set();
        main.join();
        clock_.onWait = nullptr;
    }
    // The log's folder gone; each run of the bootstrap makes it anew from the settings.
    void RemoveLogFolder() {
        const std::string log = world_.Scratch() / "logs/agent.log";
        world_.Store({{"LogFile", log}});
        logging::CAgentLog::GetInstance()->SetLogParams(true, true, true, log, 10000000);
        std::filesystem::remove_all(world_.Scratch() / "logs");
    }
};

// Stop, shutdown and preshutdown are answered while the bootstrap is still busy; the main
// routine then reports the stop every period until the bootstrap has ended, and STOPPED last,
// every report one check point further, also when no line of the log can be written.
TEST_F(ServiceEntryTest, TheHandlerReturnsAtOnceAndTheMainRoutineEndsTheBusyBootstrap) {
    for (const std::uint32_t control : {kControlStop, kControlShutdown, kControlPreshutdown}) {
        SCOPED_TRACE(control);
        const bool logWritable = control != kControlPreshutdown;
        if (!logWritable) {
            RemoveLogFolder();
        }
        RecordingStatus status;
        Live(status, [&](QxaServiceEntry& entry) {
            if (!logWritable) {
                RemoveLogFolder();
            }
            EXPECT_EQ(entry.Control(control, 0), 0u);
            EXPECT_EQ(entry.Control(kControlStop, 0), 0u) << "a second stop changes nothing";
            EXPECT_FALSE(status.release.IsSet()) << "the handler waited for the bootstrap";
        });
        const std::size_t count = status.reports.size();
        ASSERT_GE(count, 5u);
        for (std::size_t i = 0; i < count; ++i) {
            const ServiceStatus& s = status.reports[i];
            const bool stopping = i > 1 && i + 1 < count;
            EXPECT_EQ(s.currentState, i == 0     ? kServiceStartPending
                                      : i == 1   ? kServiceRunning
                                      : stopping ? kServiceStopPending
                                                 : kServiceStopped)
                << i;
            EXPECT_EQ(s.checkPoint, i + 1) << i;
            EXPECT_EQ(s.win32ExitCode, 0u) << i;
            EXPECT_EQ(s.waitHint, stopping && i > 2 ? 3000u : 5000u) << i;
            EXPECT_EQ(status.fromControlThread[i], i == 2) << i;
            EXPECT_EQ(s.controlsAccepted, 0x185u) << "stop, shutdown, session change, preshutdown";
        }
    }
    for (const char* line : {"Received SERVICE_CONTROL_STOP", "Signal Bootstrap to exit",
                             "thread exited, sending  SERVICE_STOPPED"}) {
        EXPECT_EQ(world_.LogCount(line), 2u) << line;
    }
}

// An error that is not the agent's own (no memory, no thread) ends the service all the same:
// the bootstrap is ended and STOPPED reported with the exit code that tells the service
// manager to apply the failure actions.
TEST_F(ServiceEntryTest, AnUnexpectedErrorEndsTheServiceWithStoppedAndAnExitCode) {
    const std::pair<std::uint32_t, std::exception_ptr> cases[] = {
        {kServiceStartPending, std::make_exception_ptr(std::bad_alloc())},
        {kServiceRunning,
         std::make_exception_ptr(std::system_error(std::make_error_code(std::errc::io_error)))}};
    for (const auto& [failAt, failure] : cases) {
        RecordingStatus status;
        status.failAt = failAt;
        status.failure = failure;
        status.release.Set();
        Live(status, [](QxaServiceEntry&) {});
        ASSERT_FALSE(status.reports.empty()) << failAt;
        EXPECT_EQ(status.reports.back().currentState, kServiceStopped) << failAt;
        EXPECT_EQ(status.reports.back().win32ExitCode, kExceptionInService) << failAt;
    }
    EXPECT_EQ(world_.LogCount("the service's main routine failed"), 2u);
    EXPECT_EQ(world_.LogCount("std::bad_alloc"), 1u);
    EXPECT_EQ(world_.LogCount("Start the Bootstrap thread"), 1u) << "only after the first report";
}

}  // namespace
