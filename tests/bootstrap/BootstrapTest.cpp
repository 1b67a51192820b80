// The bootstrap with a clock of the test's own: every reconnect wait and pause is recorded
// and none is sat through. The agents are real and talk to a test server on 127.0.0.1.

#include <unistd.h>

#include <cctype>
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
#include "tests/support/AgentWorld.h"
#include "tests/support/TestPeer.h"
#include "tests/support/Unprivileged.h"

namespace {

using testsupport::AgentWorld;

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

    // Starts the agent against listener_; the server's side of the connection, past the
    // session request.
    std::unique_ptr<testsupport::Peer> StartServedAgent() { return StartServedAgent(bootstrap_); }
    std::unique_ptr<testsupport::Peer> StartServedAgent(CBootstrap& bootstrap) {
        world_.Store({{"TcpPort", listener_.PortText()}});
        EXPECT_TRUE(bootstrap.Start());
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
        std::filesystem::remove(world_.ProgramFolder() + "/wardex.dat");  // the session count
        world_.Store({{"TcpPort", c.serveAfter == 0 ? listener_.PortText() : closedPort_}});
        auto server = std::async(std::launch::async, [this, &c] {
            return c.serveAfter == kNever ? "" : testsupport::Peer(listener_.Accept()).Next();
        });
        CBootstrap bootstrap(clock_, world_.ProgramFolder());
        bootstrap.SetToolboxList(toolboxes_);
        clock_.waitSeconds.clear();
        clock_.onWait = [&](std::size_t wait) {
            if (wait == c.serveAfter) {
                world_.Store({{"TcpPort", listener_.PortText()}});
            }
            if (wait == c.stopAt) {
                bootstrap.SignalShutdown();
            }
        };
        EXPECT_EQ(bootstrap.Run(0), 0u);
        EXPECT_EQ(server.get(), c.serveAfter == kNever ? "" : "Request=CreateSession\nCount=1\n");
        EXPECT_EQ(clock_.waitSeconds, c.waits);
    }
    EXPECT_EQ(world_.LogCount("CBootstrap::Run - Exit signaled"), cases.size());
    EXPECT_TRUE(clock_.sleeps.empty());
}

// The channel's own trace of the failure reaches only a console: a service's log must say
// why the switch to encryption failed, not only that the next read did.
TEST_F(BootstrapTest, AFailedSwitchToEncryptionIsLoggedWithItsReason) {
    testsupport::TestPki::Instance();
    clock_.onWait = [this](std::size_t) { bootstrap_.SignalShutdown(); };
    std::unique_ptr<testsupport::Peer> server = StartServedAgent();
    server->Send("Reply=CreateSession\nResult=Success\n");
    EXPECT_FALSE(server->StartTls(testsupport::TestPki::Instance().ServerContext(false)));
    ASSERT_TRUE(bootstrap_.WaitForEnd(testsupport::kPeerWaitMs));
    const std::string log = world_.Log();
    const std::size_t line = log.find("CQXAgent::EncryptSocket() - the TLS handshake failed: ");
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_NE(log.find("certificate verify failed", line), std::string::npos) << log;
}

// The line of the log that holds the text; empty when none does.
std::string LogLine(const std::string& log, const std::string& text) {
    const std::size_t at = log.find(text);
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t start = log.rfind('\n', at) + 1;
    return log.substr(start, log.find('\n', at) - start);
}

// The settings decide what the server's certificate must show, each row on a bootstrap of
// its own: a refused server ends the session with an error line that says why, naming the key
// it presented; an accepted one is served over TLS. Pins are hex, with or without colons.
TEST_F(BootstrapTest, TheServersNameAndKeyDecideTheSwitchToEncryption) {
    using qxsim::Presented;
    const testsupport::TestPki& pki = testsupport::TestPki::Instance();
    std::string wrongKeyWithColons;
    for (const char digit : pki.Pin(Presented::kWrongKey)) {
        wrongKeyWithColons += wrongKeyWithColons.size() % 3 == 2 ? ":" : "";
        wrongKeyWithColons += static_cast<char>(std::toupper(digit));
    }
    struct Case {
        const char* address;
        Presented presented;
        const char* verifyName;
        std::string pins;
        std::string refusal;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"127.0.0.1", Presented::kWrongName, "0", "", ""},
        {"127.0.0.1", Presented::kWrongName, "1", "", "IP address mismatch"},
        {"localhost", Presented::kWrongName, "1", "", "hostname mismatch"},
        {"localhost", Presented::kRight, "1", pki.Pin(Presented::kRight), ""},
        {"127.0.0.1", Presented::kWrongKey, "1", pki.Pin(Presented::kRight),
         "the server presented the key " + pki.Pin(Presented::kWrongKey)},
        {"127.0.0.1", Presented::kWrongKey, "0",
         pki.Pin(Presented::kRight) + ", " + wrongKeyWithColons, ""},
        {"127.0.0.1", Presented::kRight, "0", "sha256:abc", "holds \"sha256:abc\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + (" " + c.pins));
        std::filesystem::remove(world_.ProgramFolder() + "/wardex.dat");  // the session count
        world_.Store({{"TcpAddr", c.address},
                      {"VerifyServerName", c.verifyName},
                      {"ServerCertificatePins", c.pins}});
        CBootstrap bootstrap(clock_, world_.ProgramFolder());
        bootstrap.SetToolboxList(toolboxes_);
        clock_.onWait = [&bootstrap](std::size_t) { bootstrap.SignalShutdown(); };
        std::unique_ptr<testsupport::Peer> server = StartServedAgent(bootstrap);
        server->Send("Reply=CreateSession\nResult=Success\n");
        const bool accepted = server->StartTls(pki.ServerContext(c.presented));
        EXPECT_EQ(accepted, c.refusal.empty());
        if (accepted && c.refusal.empty()) {
            const std::string echo = testsupport::Request("Echo");
            server->Send(echo);
            EXPECT_EQ(server->Next(), echo);
        }
        server->Close();
        ASSERT_TRUE(bootstrap.WaitForEnd(testsupport::kPeerWaitMs));
        if (!c.refusal.empty()) {
            const std::string line = LogLine(world_.Log(), c.refusal);
            EXPECT_NE(line.find(" 0] "), std::string::npos) << line;
            EXPECT_NE(line.find("the TLS handshake failed"), std::string::npos) << line;
        }
    }
}

// With "RequireEncrypt" on, a command the server sends before the switch to encryption is
// dropped with an error line; the switch comes all the same when the server confirms the
// session and the session is served, while a session reply without success closes it.
TEST_F(BootstrapTest, RequireEncryptLetsNoPlaintextCommandThrough) {
    const testsupport::TestPki& pki = testsupport::TestPki::Instance();
    world_.Store({{"RequireEncrypt", "1"}, {"ConsoleName", "before"}});
    for (const bool confirmed : {true, false}) {
        SCOPED_TRACE(confirmed);
        std::filesystem::remove(world_.ProgramFolder() + "/wardex.dat");  // the session count
        CBootstrap bootstrap(clock_, world_.ProgramFolder());
        bootstrap.SetToolboxList(toolboxes_);
        clock_.onWait = [&bootstrap](std::size_t) { bootstrap.SignalShutdown(); };
        std::unique_ptr<testsupport::Peer> server = StartServedAgent(bootstrap);
        server->Send(testsupport::Request("Command", "Command=SetAgentSettings\nConsoleName=x\n"));
        server->Send(confirmed ? "Reply=CreateSession\nResult=Success\n"
                               : "Reply=CreateSession\nResult=Refused\n");
        if (!confirmed) {
            EXPECT_TRUE(bootstrap.WaitForEnd(testsupport::kPeerWaitMs)) << "the agent closes";
        } else if (server->StartTls(pki.ServerContext(true))) {
            const std::string echo = testsupport::Request("Echo");
            server->Send(echo);
            EXPECT_EQ(server->Next(), echo);
        } else {
            ADD_FAILURE() << "no switch to TLS";
        }
        server->Close();
        ASSERT_TRUE(bootstrap.WaitForEnd(testsupport::kPeerWaitMs));
        EXPECT_EQ(AgentWorld::Stored("ConsoleName"), "before");
    }
    EXPECT_EQ(world_.LogCount("RequireEncrypt: dropped Request=Work"), 2u);
    EXPECT_EQ(world_.LogCount("did not lead to an encrypted connection (Result=Refused)"), 1u);
}

// Files that may hold secrets are the owner's alone under any umask: the log, the settings
// store, and the state file also when an earlier temporary copy of it was left readable by
// everyone.
TEST_F(BootstrapTest, FilesThatMayHoldSecretsAreTheOwnersAlone) {
    const mode_t umask = ::umask(022);
    const std::string stateFile = world_.ProgramFolder() + "/wardex.dat";
    std::filesystem::remove(world_.LogPath());
    scratch::WriteFile(stateFile + ".tmp", "left over");
    ::chmod((stateFile + ".tmp").c_str(), 0666);
    bootstrap_.RunOnce(toolboxes_, true);
    ::umask(umask);
    for (const std::string& file :
         {world_.LogPath(), world_.RootFolder() + "/etc/corvane/registry.reg", stateFile}) {
        struct stat status {};
        ASSERT_EQ(::stat(file.c_str(), &status), 0) << file;
        EXPECT_EQ(status.st_mode & 0777, 0600u) << file;
    }
}

// Before there is an agent a user change reaches only the toolboxes; toolboxes that take their
// time over one must not hold a stop back.
TEST_F(BootstrapTest, AStopReachesTheAgentWhileTheToolboxesCheckTheUsers) {
    bootstrap_.CheckUsers();
    EXPECT_EQ(world_.LogCount("Calling Toolbox to check possible user status change"), 1u);
    EXPECT_EQ(world_.LogCount("InvokeHandler called"), 0u);
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

// Gives the relocated root to the user the child runs as, so that the child could store
// settings if it tried.
void HandOver(const std::string& folder, uid_t user) {
    EXPECT_EQ(::chown(folder.c_str(), user, user), 0);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        EXPECT_EQ(::chown(entry.path().c_str(), user, user), 0);
    }
}

// A run that may not change the program folder (a child that, as root, gives up its rights
// first) cannot delete the file, so it does not apply it either: it stays for the next run.
// That one leaves out the comment, the empty line, the line without a separator, the binary
// line and the overlong one, applies the rest and consumes the file.
TEST_F(BootstrapTest, TheInputFileAppliesItsSettingLinesOnce) {
    const std::string binary("TcpAddr=10.\x01\x02\x00.9\n", 17);
    const std::string overlong = "ConsoleName=" + std::string(10 * 1024 * 1024, 'x') + "\n";
    scratch::WriteFile(world_.InputFile(), ";TcpAddr=10.1.1.1\nTcpPort=4242\n\nConsoleName\r\n" +
                                               binary + overlong + "ClientID=pc-9\r\n");
    std::filesystem::permissions(world_.Scratch().Path(), std::filesystem::perms(0755));
    ::chmod(world_.LogPath().c_str(), 0666);
    ::chmod(world_.ProgramFolder().c_str(), 0555);
    if (::geteuid() == 0) {
        HandOver(world_.RootFolder(), testsupport::kNobody);
    }
    EXPECT_EQ(testsupport::RunWithoutPrivileges([this] {
                  bootstrap_.RunOnce(toolboxes_, false);
                  return 0;
              }),
              0);
    EXPECT_TRUE(std::filesystem::exists(world_.InputFile()));
    EXPECT_EQ(AgentWorld::Stored("TcpPort"), closedPort_);
    EXPECT_EQ(world_.LogCount("Error reading input file."), 1u);

    ::chmod(world_.ProgramFolder().c_str(), 0755);
    bootstrap_.RunOnce(toolboxes_, false);
    EXPECT_EQ(AgentWorld::Stored("TcpPort"), "4242");
    EXPECT_EQ(AgentWorld::Stored("ClientID"), "pc-9");
    EXPECT_EQ(AgentWorld::Stored("TcpAddr"), "127.0.0.1");
    EXPECT_EQ(AgentWorld::Stored("ConsoleName"), "<none>");
    EXPECT_EQ(world_.LogCount("holds binary bytes, skipped."), 2u) << "once a run";
    EXPECT_EQ(world_.LogCount("is longer than 65536 bytes, skipped."), 2u);
    EXPECT_FALSE(std::filesystem::exists(world_.InputFile()));
    EXPECT_EQ(clock_.sleeps, std::vector<std::uint32_t>{2000});
    EXPECT_EQ(world_.LogCount("Skipping agent startup"), 2u);
}

// What the configuration file's result does, each row on a bootstrap of its own over an
// earlier state file: any letter case of "Reboot" requests the restart instead of the start,
// ends the service loop and saves the state as it was loaded; another result lets the agent start
// and marks the state beside the values loaded; a file that cannot be read is skipped.
TEST_F(BootstrapTest, TheConfigurationResultDecidesTheStart) {
    struct Case {
        const char* result;  // the file's line; null: a folder stands in the file's place
        bool reboot;
        const char* logged;
        const char* mark;  // the state's "Config"
    };
    const std::vector<Case> cases = {
        {"Reboot", true, "Internal configure return Result=Reboot", "Earlier"},
        {"reBOOT", true, "Internal configure return Result=reBOOT", "Earlier"},
        {"Configured", false, "Internal configure return Result=Configured", "Reply"},
        {nullptr, false, "mireton.cfg cannot be read, configuration skipped", "Earlier"},
    };
    const std::string stateFile = world_.ProgramFolder() + "/wardex.dat";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        CAgentState earlier;
        earlier.RestorePersisted({"90210", "7", "", "Earlier", "", ""});
        SaveAgentState(stateFile, earlier, MsgFifoQueue());
        std::filesystem::remove(world_.RebootRequest());
        std::filesystem::remove_all(world_.ConfigFile());
        if (c.result) {
            scratch::WriteFile(world_.ConfigFile(), std::string(c.result) + "\n");
        } else {
            std::filesystem::create_directory(world_.ConfigFile());
        }
        const std::size_t startsBefore = world_.LogCount("Calling Agent Startup");
        CBootstrap bootstrap(clock_, world_.ProgramFolder());
        bootstrap.SetToolboxList(toolboxes_);
        clock_.waitSeconds.clear();
        clock_.onWait = [&bootstrap](std::size_t) { bootstrap.SignalShutdown(); };
        EXPECT_EQ(bootstrap.Run(0), 0u);
        EXPECT_EQ(clock_.waitSeconds.empty(), c.reboot) << "the loop ends at a restart";
        EXPECT_EQ(scratch::ReadFile(world_.RebootRequest()), c.reboot ? "force=1\n" : "");
        EXPECT_EQ(world_.LogCount("Calling Agent Startup") - startsBefore, c.reboot ? 0u : 1u);
        EXPECT_EQ(world_.LogCount(c.logged), 1u);
        CAgentState state;
        LoadAgentState(stateFile, state);
        const CAgentState::Persisted values = state.TakePersisted();
        EXPECT_EQ(values[0], "90210") << "Task-Sequence-ID";
        EXPECT_EQ(values[3], c.mark) << "Config";
    }
    EXPECT_EQ(world_.LogCount("Internal configure return"), 3u);
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
