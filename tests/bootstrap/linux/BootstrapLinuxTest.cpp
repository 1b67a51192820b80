// The bootstrap where it meets what only Linux has: TLS on OpenSSL, file modes and users, the
// relocated root's configuration file and restart request.

#include <unistd.h>

#include <cctype>
#include <sys/stat.h>

#include "agent/store/AgentStore.h"
#include "tests/bootstrap/BootstrapFixture.h"
#include "tests/support/TestBasics.h"
#include "tests/support/Unprivileged.h"

namespace {

using bootstraptest::BootstrapTest;

// The settings decide what the server's certificate must show, each row on a bootstrap of
// its own with "RequireEncrypt" on: a refused server (an untrusted one too) ends the session
// with an error line that says why, naming the key it presented, also to a service's log; an
// accepted one is served over TLS; a session reply without success closes the session. Pins
// are hex, with or without colons. A command sent before the switch is dropped in every row.
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
        std::optional<Presented> presented;  // none: the untrusted authority's chain
        const char* verifyName;
        std::string pins;
        std::string refusal;             // empty: accepted
        std::string result = "Success";  // the server's reply to the session request
    };
    const std::vector<Case> cases = {
        {"127.0.0.1", std::nullopt, "0", "", "certificate verify failed"},
        {"127.0.0.1", Presented::kWrongName, "0", "", ""},
        {"127.0.0.1", Presented::kWrongName, "1", "", "IP address mismatch"},
        {"localhost", Presented::kWrongName, "1", "", "hostname mismatch"},
        {"localhost", Presented::kRight, "1", pki.Pin(Presented::kRight), ""},
        {"127.0.0.1", Presented::kWrongKey, "1", pki.Pin(Presented::kRight),
         "the server presented the key " + pki.Pin(Presented::kWrongKey)},
        {"127.0.0.1", Presented::kWrongKey, "0",
         pki.Pin(Presented::kRight) + ", " + wrongKeyWithColons, ""},
        {"127.0.0.1", Presented::kRight, "0", "sha256:abc", "holds \"sha256:abc\""},
        {"127.0.0.1", Presented::kRight, "0", "",
         "did not lead to an encrypted connection (Result=Refused)", "Refused"},
    };
    world_.Store({{"RequireEncrypt", "1"}, {"ConsoleName", "before"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + (" " + c.pins) + " " + c.refusal);
        world_.Store({{"TcpAddr", c.address},
                      {"VerifyServerName", c.verifyName},
                      {"ServerCertificatePins", c.pins}});
        const auto bootstrap = StoppedAtFirstWait();
        std::unique_ptr<testsupport::Peer> server = StartServedAgent(*bootstrap);
        server->Send(testsupport::Request("Command", "Command=SetAgentSettings\nConsoleName=x\n"));
        server->Send("Reply=CreateSession\nResult=" + c.result + "\n");
        if (c.result != "Success") {
            EXPECT_TRUE(bootstrap->WaitForEnd(testsupport::kPeerWaitMs)) << "the agent closes";
        } else if (server->StartTls(c.presented ? pki.ServerContext(*c.presented)
                                                : pki.ServerContext(false))) {
            EXPECT_TRUE(c.refusal.empty());
            const std::string echo = testsupport::Request("Echo");
            server->Send(echo);
            EXPECT_EQ(server->Next(), echo);
        } else {
            EXPECT_FALSE(c.refusal.empty()) << "refused";
        }
        server->Close();
        ASSERT_TRUE(bootstrap->WaitForEnd(testsupport::kPeerWaitMs));
        if (!c.refusal.empty()) {
            const auto lines = scratch::Lines(world_.Log());
            const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
                return l.find(c.refusal) != std::string::npos;
            });
            ASSERT_NE(line, lines.end());
            EXPECT_NE(line->find(" 0] "), std::string::npos) << *line;
        }
    }
    EXPECT_EQ(world_.LogCount("the TLS handshake failed"), 5u);
    EXPECT_EQ(world_.LogCount("RequireEncrypt: dropped Request=Work"), cases.size());
    EXPECT_EQ(world_.Stored("ConsoleName"), "before");
}

// Files that may hold secrets are the owner's alone under any umask: the log, the settings
// store, and the state file also when an earlier temporary copy of it was left readable by
// everyone.
TEST_F(BootstrapTest, FilesThatMayHoldSecretsAreTheOwnersAlone) {
    const mode_t umask = ::umask(022);
    const std::string stateFile = world_.StateFile();
    std::filesystem::remove(world_.LogPath());
    scratch::WriteFile(stateFile + ".tmp", "left over");
    ::chmod((stateFile + ".tmp").c_str(), 0666);
    bootstrap_.RunOnce(toolboxes_, true);
    ::umask(umask);
    for (const std::string& file :
         {world_.LogPath(), world_.Scratch() / "etc/corvane/registry.reg", stateFile}) {
        EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0600))
            << file;
    }
}

// Gives the relocated root, with the program folder and the log, to the user the child runs as, so
// that the child could store settings if it tried.
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
    std::filesystem::permissions(world_.RootFolder(), std::filesystem::perms(0755));
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
    EXPECT_EQ(world_.Stored("TcpPort"), closedPort_);
    EXPECT_EQ(world_.LogCount("Error reading input file."), 1u);

    // As root, the agent reads only an input file that root owns.
    ::chmod(world_.ProgramFolder().c_str(), 0755);
    if (::geteuid() == 0) {
        HandOver(world_.RootFolder(), 0);
    }
    bootstrap_.RunOnce(toolboxes_, false);
    EXPECT_EQ((std::vector<std::string>{world_.Stored("TcpPort"), world_.Stored("ClientID"),
                                        world_.Stored("TcpAddr"), world_.Stored("ConsoleName")}),
              (std::vector<std::string>{"4242", "pc-9", "127.0.0.1", "<none>"}));
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
    const std::string stateFile = world_.StateFile();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        const auto bootstrap = StoppedAtFirstWait();
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
        clock_.waitMs.clear();
        EXPECT_EQ(bootstrap->Run(0), 0u);
        EXPECT_EQ(clock_.waitMs.empty(), c.reboot) << "the loop ends at a restart";
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
}  // namespace
