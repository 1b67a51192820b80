// The bootstrap with a clock of the test's own: every reconnect wait and pause is recorded
// and none is sat through. The agents are real and talk to a test server on 127.0.0.1.

#include <unistd.h>

#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "agent/engine/bootstrap.h"
#include "agent/log/AgentLog.h"
#include "agent/store/AgentStore.h"
#include "common/sys/DataRegistry.h"
#include "common/sys/linux/RegistryDefs.h"
#include "tests/program/ProgramTestSupport.h"
#include "tests/support/TestPeer.h"
#include "tests/support/Unprivileged.h"

namespace {

using programtest::AgentWorld;

// Records the pauses. A wait returns at once, as if it had run its full time, unless the
// hook set the event meanwhile; the hook sees the number of the wait, from 1.
class RecordingClock final : public IBootstrapClock {
public:
    void Sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        if (onSleep) {
            onSleep(sleeps.size());
        }
    }
    bool WaitFor(lang::CEvent& event, std::uint32_t milliseconds) override {
        waitSeconds.push_back(milliseconds / 1000);
        if (onWait) {
            onWait(waitSeconds.size());
        }
        return event.Wait(0);
    }

    std::vector<std::uint32_t> sleeps;
    std::vector<std::uint32_t> waitSeconds;
    std::function<void(std::size_t)> onSleep;
    std::function<void(std::size_t)> onWait;
};

class BootstrapTest : public testing::Test {
protected:
    BootstrapTest() : bootstrap_(clock_, world_.ProgramFolder()) {
        // The process's log follows this test's settings, also when one process runs every
        // test.
        logging::CAgentLog* log = logging::CAgentLog::GetInstance();
        log->InitializeFileLog(true, true, true, world_.LogPath(), 10000000);
        log->SetLogParams(true, true, true, world_.LogPath(), 10000000);
        toolboxes_.Add(WARDEX_SESSION_TOOLBOX);
        bootstrap_.SetToolboxList(toolboxes_);
        world_.Store({{"TcpAddr", "127.0.0.1"}, {"TcpPort", closedPort_}});
    }

    // Runs the service loop on the test's thread; the clock's hooks end it.
    std::uint32_t RunService() { return bootstrap_.Run(0); }
    void StopAtWait(std::size_t number) {
        clock_.onWait = [this, number](std::size_t wait) {
            if (wait == number) {
                bootstrap_.SignalShutdown();
            }
        };
    }

    // Starts the agent against listener_; the server's side of the connection, past the
    // session request.
    std::unique_ptr<testsupport::Peer> StartServedAgent() {
        world_.Store({{"TcpPort", listener_.PortText()}});
        EXPECT_TRUE(bootstrap_.Start());
        auto server = std::make_unique<testsupport::Peer>(listener_.Accept());
        EXPECT_EQ(server->Next(), "Request=CreateSession\nCount=1\n");
        return server;
    }

    AgentWorld world_;
    testsupport::TestServer listener_;
    const std::string closedPort_ = std::to_string(testsupport::ClosedPort());
    RecordingClock clock_;
    util::ParamList toolboxes_;
    CBootstrap bootstrap_;
};

// A stop during the wait before the next run (the server closed the session) or during the
// start-up retry ends Run at once.
TEST_F(BootstrapTest, AStopDuringAWaitEndsRunAtOnce) {
    for (const bool served : {true, false}) {
        SCOPED_TRACE(served ? "loop wait" : "start-up retry");
        world_.Store({{"TcpPort", served ? listener_.PortText() : closedPort_}});
        auto server = std::async(std::launch::async, [this, served] {
            if (served) {
                testsupport::Peer(listener_.Accept()).Next();
            }
        });
        CBootstrap bootstrap(clock_, world_.ProgramFolder());
        bootstrap.SetToolboxList(toolboxes_);
        clock_.waitSeconds.clear();
        clock_.onWait = [&bootstrap](std::size_t) { bootstrap.SignalShutdown(); };
        EXPECT_EQ(bootstrap.Run(0), 0u);
        server.get();
        EXPECT_EQ(clock_.waitSeconds, std::vector<std::uint32_t>{1});
    }
    EXPECT_EQ(world_.LogCount("Calling Agent Startup"), 2u);
    EXPECT_EQ(world_.LogCount("CBootstrap::Run - Exit signaled"), 2u);
}

// Start-up retry and loop wait for each failed connection, then 1800 seconds for ever.
TEST_F(BootstrapTest, FailedConnectionsFollowTheSchedule) {
    StopAtWait(22);
    EXPECT_EQ(RunService(), 0u);
    const std::vector<std::uint32_t> expected = {1,    1,    1,    1,    15,   15,  15,  60,
                                                 60,   60,   60,   300,  300,  300, 300, 300,
                                                 1800, 1800, 1800, 1800, 1800, 1800};
    EXPECT_EQ(clock_.waitSeconds, expected);
    EXPECT_EQ(world_.LogCount("CBootstrap::Run - Exit signaled"), 1u);
    EXPECT_TRUE(clock_.sleeps.empty());
}

// A session that reached "CreateSession" starts the schedule again from its first wait.
TEST_F(BootstrapTest, ASessionResetsTheSchedule) {
    auto server = std::async(std::launch::async,
                             [this] { return testsupport::Peer(listener_.Accept()).Next(); });
    clock_.onWait = [&](std::size_t wait) {
        if (wait == 8) {
            world_.Store({{"TcpPort", listener_.PortText()}});
        } else if (wait == 9) {
            bootstrap_.SignalShutdown();
        }
    };
    EXPECT_EQ(RunService(), 0u);
    EXPECT_EQ(server.get(), "Request=CreateSession\nCount=1\n");
    const std::vector<std::uint32_t> expected = {1, 1, 1, 1, 15, 15, 15, 60, 1};
    EXPECT_EQ(clock_.waitSeconds, expected);
}

// The channel's own trace of the failure reaches only a console: a service's log must say
// why the switch to encryption failed, not only that the next read did.
TEST_F(BootstrapTest, AFailedSwitchToEncryptionIsLoggedWithItsReason) {
    testsupport::TestPki::Instance();
    StopAtWait(1);
    std::unique_ptr<testsupport::Peer> server = StartServedAgent();
    server->Send("Reply=CreateSession\nResult=Success\n");
    EXPECT_FALSE(server->StartTls(testsupport::TestPki::Instance().ServerContext(false)));
    ASSERT_TRUE(bootstrap_.WaitForEnd(testsupport::kPeerWaitMs));
    const std::string log = world_.Log();
    const std::size_t line = log.find("CQXAgent::EncryptSocket() - the TLS handshake failed: ");
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_NE(log.find("certificate verify failed", line), std::string::npos) << log;
}

TEST_F(BootstrapTest, CheckUsersReachesTheServerOnlyWithAnAgent) {
    bootstrap_.CheckUsers();
    EXPECT_EQ(world_.LogCount("Calling Toolbox to check possible user status change"), 1u);
    EXPECT_EQ(world_.LogCount("InvokeHandler called"), 0u);

    std::unique_ptr<testsupport::Peer> server = StartServedAgent();
    bootstrap_.CheckUsers();
    EXPECT_EQ(server->Next(), "Request=UpdateUser\nUsers=tester\n");
    bootstrap_.SignalShutdown();
    ASSERT_TRUE(bootstrap_.WaitForEnd(testsupport::kPeerWaitMs));
}

// Toolboxes that take their time over a user change must not hold a stop back.
TEST_F(BootstrapTest, AStopReachesTheAgentWhileTheToolboxesCheckTheUsers) {
    std::unique_ptr<testsupport::Peer> server = StartServedAgent();
    const std::string hold = world_.RootFolder() + "/users.hold";
    scratch::WriteFile(hold, "");
    std::future<void> checking =
        std::async(std::launch::async, [this] { bootstrap_.CheckUsers(); });
    while (world_.LogCount("InvokeHandler called - Internal=CheckUsers") == 0) {
        std::this_thread::yield();
    }
    bootstrap_.SignalShutdown();
    EXPECT_EQ(server->NextOrEnd(), std::nullopt) << "the stop closed the connection";
    EXPECT_EQ(checking.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "while the toolboxes were still checking the users";
    std::filesystem::remove(hold);
    checking.get();
    ASSERT_TRUE(bootstrap_.WaitForEnd(testsupport::kPeerWaitMs));
}

// The comment, the empty line, the line without a separator, the binary line and the
// overlong one are left out; the file is consumed.
TEST_F(BootstrapTest, TheInputFileAppliesItsSettingLinesOnce) {
    const std::string binary("TcpAddr=10.\x01\x02\x00.9\n", 17);
    const std::string overlong = "ConsoleName=" + std::string(10 * 1024 * 1024, 'x') + "\n";
    scratch::WriteFile(world_.InputFile(), ";TcpAddr=10.1.1.1\nTcpPort=4242\n\nConsoleName\r\n" +
                                               binary + overlong + "ClientID=pc-9\r\n");
    bootstrap_.RunOnce(toolboxes_, false);
    EXPECT_EQ(AgentWorld::Stored("TcpPort"), "4242");
    EXPECT_EQ(AgentWorld::Stored("ClientID"), "pc-9");
    EXPECT_EQ(AgentWorld::Stored("TcpAddr"), "127.0.0.1");
    EXPECT_EQ(AgentWorld::Stored("ConsoleName"), "<none>");
    EXPECT_EQ(world_.LogCount("holds binary bytes, skipped."), 1u);
    EXPECT_EQ(world_.LogCount("is longer than 65536 bytes, skipped."), 1u);
    EXPECT_FALSE(std::filesystem::exists(world_.InputFile()));
    EXPECT_EQ(clock_.sleeps, std::vector<std::uint32_t>{2000});
    EXPECT_EQ(world_.LogCount("Skipping agent startup"), 1u);
}

// Gives the relocated root to the user the child runs as, so that the child could store
// settings if it tried.
void HandOver(const std::string& folder, uid_t user) {
    EXPECT_EQ(::chown(folder.c_str(), user, user), 0);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        EXPECT_EQ(::chown(entry.path().c_str(), user, user), 0);
    }
}

// The run is made by a child that may not change the program folder (as root it gives up
// its rights first), so the file cannot be deleted: it is not applied and stays for the
// next run.
TEST_F(BootstrapTest, AnInputFileThatCannotBeDeletedIsNotApplied) {
    scratch::WriteFile(world_.InputFile(), "TcpPort=4444\n");
    std::filesystem::permissions(world_.Scratch().Path(), std::filesystem::perms(0755));
    ::chmod(world_.LogPath().c_str(), 0666);
    ::chmod(world_.ProgramFolder().c_str(), 0555);
    if (::geteuid() == 0) {
        HandOver(world_.RootFolder(), testsupport::kNobody);
    }
    const int result = testsupport::RunWithoutPrivileges([this] {
        bootstrap_.RunOnce(toolboxes_, false);
        return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(std::filesystem::exists(world_.InputFile()));
    EXPECT_EQ(AgentWorld::Stored("TcpPort"), closedPort_);
    EXPECT_EQ(world_.LogCount("Error reading input file."), 1u);

    ::chmod(world_.ProgramFolder().c_str(), 0755);
    bootstrap_.RunOnce(toolboxes_, false);
    EXPECT_EQ(AgentWorld::Stored("TcpPort"), "4444");
    EXPECT_FALSE(std::filesystem::exists(world_.InputFile()));
}

// Any letter case of "Reboot" requests the restart and skips the start; the service loop
// then ends at its exit test.
// A run that does not start the agent still ends by saving the state, which must be the
// state it loaded.
TEST_F(BootstrapTest, AConfigurationResultOfRebootRestartsInsteadOfStarting) {
    const std::string stateFile = world_.ProgramFolder() + "/wardex.dat";
    CAgentState earlier;
    earlier.RestorePersisted({"90210", "", "", "", "", ""});
    SaveAgentState(stateFile, earlier, MsgFifoQueue());
    for (const char* result : {"Reboot", "REBOOT", "reBOOT"}) {
        std::filesystem::remove(world_.RebootRequest());
        scratch::WriteFile(world_.ConfigFile(), std::string(result) + "\n");
        CBootstrap bootstrap(clock_, world_.ProgramFolder());
        bootstrap.SetToolboxList(toolboxes_);
        EXPECT_EQ(bootstrap.Run(0), 0u) << result;
        EXPECT_EQ(scratch::ReadFile(world_.RebootRequest()), "force=1\n") << result;
        EXPECT_EQ(world_.LogCount(std::string("Internal configure return Result=") + result), 1u);
    }
    EXPECT_EQ(world_.LogCount("Calling Agent Startup"), 0u);
    EXPECT_TRUE(clock_.waitSeconds.empty());
    CAgentState kept;
    LoadAgentState(stateFile, kept);
    EXPECT_EQ(kept.TakePersisted()[0], "90210") << "Task-Sequence-ID";
}

// The configuration's mark reaches the state file whether or not there was one before, and
// the values loaded from an earlier file stay beside it.
TEST_F(BootstrapTest, AnotherConfigurationResultLetsTheAgentStartAndIsRecordedInTheState) {
    scratch::WriteFile(world_.ConfigFile(), "Configured\n");
    const std::string stateFile = world_.ProgramFolder() + "/wardex.dat";
    for (const bool earlierFile : {false, true}) {
        if (earlierFile) {
            CAgentState earlier;
            earlier.RestorePersisted({"", "7", "", "Earlier", "", ""});
            MsgFifoQueue none;
            SaveAgentState(stateFile, earlier, none);
        }
        bootstrap_.RunOnce(toolboxes_, true);
        CAgentState state;
        LoadAgentState(stateFile, state);
        const CAgentState::Persisted values = state.TakePersisted();
        EXPECT_EQ(values[3], "Reply") << "Config, earlier file: " << earlierFile;
        EXPECT_EQ(values[1], earlierFile ? "7" : "") << "Task-Type";
    }
    EXPECT_FALSE(std::filesystem::exists(world_.RebootRequest()));
    EXPECT_EQ(world_.LogCount("Internal configure return Result=Configured"), 2u);
    EXPECT_EQ(world_.LogCount("Calling Agent Startup"), 2u);
}

TEST_F(BootstrapTest, AConfigurationFileThatCannotBeReadIsSkipped) {
    std::filesystem::create_directory(world_.ConfigFile());
    bootstrap_.RunOnce(toolboxes_, true);
    EXPECT_EQ(world_.LogCount("mireton.cfg cannot be read, configuration skipped"), 1u);
    EXPECT_EQ(world_.LogCount("Internal configure return"), 0u);
    EXPECT_EQ(world_.LogCount("Calling Agent Startup"), 1u);
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

// With "DebugWaitEnabled" 1 the start holds in 2-second steps (here until a stop), and the
// value is gone afterwards.
TEST_F(BootstrapTest, DebugWaitHoldsTheStartOnce) {
    {
        sys::CDataRegistry registry;
        registry.SetKey(HKEY_LOCAL_MACHINE, "Software\\Corvane\\Client Service");
        registry.Open(true, false, 0);
        registry.WriteDWord("DebugWaitEnabled", 1);
    }
    clock_.onSleep = [this](std::size_t sleep) {
        if (sleep == 3) {
            bootstrap_.SignalShutdown();
        }
    };
    EXPECT_EQ(RunService(), 0u);
    EXPECT_EQ(clock_.sleeps, (std::vector<std::uint32_t>{2000, 2000, 2000}));
    EXPECT_EQ(world_.LogCount("Calling Agent Startup"), 0u);
    sys::CDataRegistry registry;
    registry.SetKey(HKEY_LOCAL_MACHINE, "Software\\Corvane\\Client Service");
    registry.Open(false, false, 0);
    std::uint32_t value = 0;
    EXPECT_THROW(registry.ReadDWord("DebugWaitEnabled", value), sys::RegistryError);
}

}  // namespace
