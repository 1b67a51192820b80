#pragma once

#include "agent/engine/Bootstrap.h"
#include "agent/log/AgentLog.h"
#include "tests/support/AgentWorld.h"
#include "tests/support/TestBasics.h"
#include "tests/support/TestPeer.h"

namespace bootstraptest {

// Records the pauses. A wait returns at once, as if it had run its full time, unless the
// hook set the event meanwhile; the hook sees the number of the wait, from 1.
class RecordingClock final : public IBootstrapClock {
public:
    void Sleep(std::uint32_t milliseconds) override { sleeps.push_back(milliseconds); }
    bool WaitFor(lang::CEvent& event, std::uint32_t milliseconds) override {
        waitMs.push_back(milliseconds);
        if (onWait) {
            onWait(waitMs.size());
        }
        return event.Wait(0);
    }

    std::vector<std::uint32_t> sleeps;
    std::vector<std::uint32_t> waitMs;
    std::function<void(std::size_t)> onWait;
};

// The bootstrap with the session toolbox and a clock of the test's own, in an agent world
// whose settings name a closed port.
class BootstrapTest : public testing::Test {
protected:
    BootstrapTest() {
        world_.Store({{"TcpPort", closedPort_}});
        // The process's log follows this test's settings, also when one process runs every
        // test.
        logging::CAgentLog* log = logging::CAgentLog::GetInstance();
        log->InitializeFileLog(true, true, true, world_.LogPath(), 10000000);
        log->SetLogParams(true, true, true, world_.LogPath(), 10000000);
        toolboxes_.Add(WARDEX_SESSION_TOOLBOX);
        bootstrap_.SetToolboxList(toolboxes_);
    }

    // A bootstrap of the row's own, whose first wait stops it; the session count starts anew.
    std::unique_ptr<CBootstrap> StoppedAtFirstWait() {
        std::filesystem::remove(world_.StateFile());
        auto bootstrap = std::make_unique<CBootstrap>(clock_, world_.ProgramFolder());
        bootstrap->SetToolboxList(toolboxes_);
        clock_.onWait = [stop = bootstrap.get()](std::size_t) { stop->SignalShutdown(); };
        return bootstrap;
    }
    // Starts the agent against the world's test server; the server's side of the connection,
    // past the session request.
    std::unique_ptr<testsupport::Peer> StartServedAgent(CBootstrap& bootstrap) {
        world_.Store({{"TcpPort", world_.listener.PortText()}});
        EXPECT_TRUE(bootstrap.Start());
        auto server = std::make_unique<testsupport::Peer>(world_.listener.Accept());
        EXPECT_EQ(server->Next(), "Request=CreateSession\nCount=1\n");
        return server;
    }

    testsupport::AgentWorld world_;
    const std::string closedPort_ = std::to_string(testsupport::ClosedPort());
    RecordingClock clock_;
    util::ParamList toolboxes_;
    CBootstrap bootstrap_{clock_, world_.ProgramFolder()};
};

}  // namespace bootstraptest
