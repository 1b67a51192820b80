// The bootstrap with a clock of the test's own: every reconnect wait and pause is recorded
// and none is sat through. The agents are real and talk to a test server on 127.0.0.1.

#include <future>

#include "agent/store/AgentStore.h"
#include "tests/bootstrap/BootstrapFixture.h"
#include "tests/support/TestBasics.h"

namespace {

using bootstraptest::BootstrapTest;

// The waits between runs, each row on a bootstrap of its own: a start-up retry and a loop
// wait for each failed connection, then 1800 seconds for ever; a session that reached
// "CreateSession" starts the schedule again; a stop during any wait ends Run at once.
TEST_F(BootstrapTest, WaitsFollowTheScheduleAndAStopEndsThemAtOnce) {
    constexpr std::size_t kNever = 1000;
    struct Case {
        const char* name;
        std::size_t serveAfter;  // the wait after which the server listens (0: from the start)
        std::size_t stopAt;
        std::vector<std::uint32_t> waits;
    };
    const std::vector<Case> cases = {
        {"stop in the start-up retry", kNever, 1, {1}},
        {"stop in the loop wait", 0, 1, {1}},
        {"failed connections", kNever, 22, {1,    1,    1,    1,    15,   15,  15,  60,
                                            60,   60,   60,   300,  300,  300, 300, 300,
                                            1800, 1800, 1800, 1800, 1800, 1800}},
        {"a session starts it again", 8, 9, {1, 1, 1, 1, 15, 15, 15, 60, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        world_.Store({{"TcpPort", c.serveAfter == 0 ? world_.listener.PortText() : closedPort_}});
        auto server = std::async(std::launch::async, [this, &c] {
            return c.serveAfter == kNever ? "" : testsupport::Peer(world_.listener.Accept()).Next();
        });
        const auto bootstrap = StoppedAtFirstWait();
        clock_.waitMs.clear();
        clock_.onWait = [&](std::size_t wait) {
            if (wait == c.serveAfter) {
                world_.Store({{"TcpPort", world_.listener.PortText()}});
            }
            if (wait == c.stopAt) {
                bootstrap->SignalShutdown();
            }
        };
        EXPECT_EQ(bootstrap->Run(0), 0u);
        EXPECT_EQ(server.get(), c.serveAfter == kNever ? "" : "Request=CreateSession\nCount=1\n");
        std::vector<std::uint32_t> expectedMs;
        for (const std::uint32_t seconds : c.waits) {
            expectedMs.push_back(seconds * 1000);
        }
        EXPECT_EQ(clock_.waitMs, expectedMs) << "without a spread, the schedule's exact waits";
    }
    EXPECT_EQ(world_.LogCount("CBootstrap::Run - Exit signaled"), cases.size());
    EXPECT_TRUE(clock_.sleeps.empty());
}

// "ReconnectSpread" adds to each wait a random part of up to that many seconds, drawn anew by
// every agent, and the log tells the time actually waited.
TEST_F(BootstrapTest, ASpreadAddsToEachWaitAPartOfItsOwnForEveryAgent) {
    world_.Store({{"ReconnectSpread", "30"}});
    const std::vector<std::uint32_t> schedule = {1, 1, 1, 1, 15, 15, 15, 60};
    std::vector<std::uint32_t> otherAgent;
    for (int agent = 0; agent < 2; ++agent) {
        const auto bootstrap = StoppedAtFirstWait();
        clock_.waitMs.clear();
        clock_.onWait = [&](std::size_t wait) {
            if (wait == schedule.size()) {
                bootstrap->SignalShutdown();
            }
        };
        EXPECT_EQ(bootstrap->Run(0), 0u);
        ASSERT_EQ(clock_.waitMs.size(), schedule.size());
        for (std::size_t i = 0; i < schedule.size(); ++i) {
            EXPECT_GE(clock_.waitMs[i], schedule[i] * 1000);
            EXPECT_LE(clock_.waitMs[i], schedule[i] * 1000 + 30000);
        }
        EXPECT_NE(clock_.waitMs, otherAgent);
        otherAgent = clock_.waitMs;
        EXPECT_EQ(world_.LogCount("Retrying startup in " + WaitText(clock_.waitMs[0]) + " seconds"),
                  1u);
    }
}

// Before there is an agent a user change reaches only the toolboxes; toolboxes that take their
// time over one must not hold a stop back.
TEST_F(BootstrapTest, AStopReachesTheAgentWhileTheToolboxesCheckTheUsers) {
    bootstrap_.CheckUsers();
    EXPECT_EQ(world_.LogCount("Calling Toolbox to check possible user status change"), 1u);
    EXPECT_EQ(world_.LogCount("InvokeHandler called"), 0u);
    std::unique_ptr<testsupport::Peer> server = StartServedAgent(bootstrap_);
    const std::string hold = world_.Scratch() / "users.hold";
    testsupport::SetVariable("WARDEX_USERS_HOLD", hold.c_str());
    scratch::WriteFile(hold, "");
    std::future<void> checking =
        std::async(std::launch::async, [this] { bootstrap_.CheckUsers(); });
    ASSERT_TRUE(world_.WaitForLog("InvokeHandler called - Internal=CheckUsers"));
    bootstrap_.SignalShutdown();
    EXPECT_EQ(server->NextOrEnd(), std::nullopt) << "the stop closed the connection";
    EXPECT_EQ(checking.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "while the toolboxes were still checking the users";
    std::filesystem::remove(hold);
    checking.get();
    testsupport::SetVariable("WARDEX_USERS_HOLD", nullptr);
    ASSERT_TRUE(bootstrap_.WaitForEnd(testsupport::kPeerWaitMs));
}

// A first start, each row on a bootstrap of its own without a state file: the configuration
// toolbox gets the file's path in the system's own form, and the step's mark reaches the state
// file for the next start; a server's SetState adds no name of the state file that the key
// table lacks (with the mark present it names only what it cannot add).
TEST_F(BootstrapTest, AFirstStartKeepsTheConfigurationsMarkButNotAServersStateFileNames) {
    for (const std::string configuration : {"Configured from <Filename>", ""}) {
        SCOPED_TRACE(configuration);
        const auto bootstrap = StoppedAtFirstWait();
        std::filesystem::remove(world_.ConfigFile());
        if (!configuration.empty()) {
            scratch::WriteFile(world_.ConfigFile(), configuration);
        }
        std::unique_ptr<testsupport::Peer> server = StartServedAgent(*bootstrap);
        const std::string mark = configuration.empty() ? "Config=server\n" : "";
        server->Send(testsupport::Request("Command", "Command=SetState\nStatus-Module=x\n" + mark));
        EXPECT_NE(server->Next().find("Returned=true"), std::string::npos);
        server->Close();
        ASSERT_TRUE(bootstrap->WaitForEnd(testsupport::kPeerWaitMs));
        CAgentState state;
        LoadAgentState(world_.StateFile(), state);
        const CAgentState::Persisted values = state.TakePersisted();
        EXPECT_EQ(values[3] + "," + values[5], configuration.empty() ? "," : "Reply,");
    }
    EXPECT_EQ(
        world_.LogCount("Internal configure return Result=Configured from " + world_.ConfigFile()),
        1u);
}

// Only the low 21 bits of "LogSize" reach the log: 4194304 arrives as 0, which leaves the
// log dormant from then on.
TEST_F(BootstrapTest, TheLogSizeIsCutTo21Bits) {
    world_.Store({{"LogSize", "3000000"}});
    bootstrap_.RunOnce(toolboxes_, true);
    EXPECT_EQ(world_.LogCount("size=902848"), 1u);
    world_.Store({{"LogSize", "4194304"}});
    bootstrap_.RunOnce(toolboxes_, true);
    EXPECT_EQ(world_.LogCount("size=0"), 1u);
    EXPECT_EQ(world_.LogCount("Agent startup code being called"), 1u);
}

}  // namespace
