// The command line as a user types it: the real program, copied into a scratch program
// folder and run as a child process with a relocated root.

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "common/sys/linux/RegistryFile.h"
#include "tests/program/ProgramTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestPeer.h"

namespace {

using programtest::AgentWorld;

constexpr auto kLongestRun = std::chrono::seconds(60);

const std::string kUsage =
    "Usage: wardex [options] ...\n   -load  . . . . use the following toolboxes\n   -debug . . "
    ". . Run in user mode with console debug output\n   -version . . . Display version "
    "information\n   -skt     . . . Use Corvane Shiftkit options\n   -? or -help  . Display this "
    "help screen\n\nexamples:\n   wardex -debug -load=default.dll,config.dll,autoupdate.dll\n   "
    "wardex -version -load=default.dll,config.dll,autoupdate.dll\n\n\n";

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the program as a user would; a run that outlasts kLongestRun fails the test.
Outcome Wardex(const AgentWorld& world, const std::vector<std::string>& arguments) {
    testsupport::ChildProcess child(world.ProgramLine(WARDEX_PROGRAM, arguments));
    const std::optional<int> exitCode = child.WaitForExit(kLongestRun);
    if (!exitCode) {
        ADD_FAILURE() << "the program did not end";
    }
    return {exitCode.value_or(-1), child.Output(), child.Errors()};
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs whose outcome is their exit code, their output and the lines they log.
TEST(ProgramTest, RunsEndAsTheirArgumentsSay) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::optional<std::string> out;  // the whole output, when given
        std::vector<std::string> outParts;
        std::vector<std::pair<std::string, std::size_t>> logCounts;
    };
    const std::string console = "Running Agent in console/debug mode";
    const std::string empty = "Toolbox List is empty, exiting";
    const std::vector<Case> cases = {
        {{}, 1, std::nullopt, {}, {{empty, 1}}},
        // Runs that only print; the console mode is logged only when it runs.
        {{"-?"}, 0, kUsage, {}, {{console, 0}}},
        {{"-help"}, 0, kUsage, {}, {{console, 0}}},
        {{"-helpme"}, 0, kUsage, {}, {{console, 0}}},
        {{"-debug", "-help"}, 0, kUsage, {}, {{console, 0}}},
        {{"-debug"},
         0,
         "Running agent in console/debug mode\nToolbox List is empty - application will exit\n\n",
         {},
         {{console, 1}}},
        {{"-skt"}, 0, "ERROR: No toolbox list specified\n", {}, {{console, 0}}},
        {{"-install"},
         1,
         std::nullopt,
         {},
         {{"no argument list provided", 1}, {"ServiceControl::Install", 0}}},
        // An option must begin an argument; "-load=" may stand anywhere in one.
        {{"x-debug", "x-load=a.so"},
         0,
         "",
         {},
         {{"ServiceControl::StartService", 1}, {"Leaving Main()", 1}}},
        {{"x-debug"}, 1, std::nullopt, {}, {{empty, 1}}},
        // A count of zero, or one that is no number, runs no session.
        {{"-debug", "-count=0", "-load=a.so"},
         0,
         "Running agent in console/debug mode\nFound -count arg -count=0\n",
         {},
         {{"Agent will exit after 0 reconnects ", 1}}},
        {{"-debug", "-count=many", "-load=a.so"},
         0,
         std::nullopt,
         {"-count value \"many\" is not a number, taken as 0\n"},
         {{"Agent will exit after 0 reconnects ", 1}}},
        {{"-version", "-load=missing-toolbox.so"},
         1,
         std::nullopt,
         {"\tagent Version 6.8.282 (32 bit)\nunhandled  exception\n", "\ncannot continue\n"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const AgentWorld world;
        const Outcome outcome = Wardex(world, c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        if (c.out) {
            EXPECT_EQ(outcome.out, *c.out);
        }
        for (const std::string& part : c.outParts) {
            EXPECT_TRUE(Contains(outcome.out, part)) << outcome.out;
        }
        for (const auto& [text, count] : c.logCounts) {
            EXPECT_EQ(world.LogCount(text), count) << text;
        }
    }
}

// The option table's order decides, not the command line's: -install comes before -remove.
TEST(ProgramTest, InstallTakesPrecedenceOverRemove) {
    const AgentWorld world;
    world.Store({{"TcpAddr", "server.example"}});
    const Outcome outcome = Wardex(world, {"-install", "-remove", "-load=a.so,b.so"});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(world.LogCount("Attempting to install service"), 1u);
    EXPECT_EQ(world.LogCount("argv[3]=-load=a.so,b.so"), 2u);
    EXPECT_EQ(world.LogCount("Attempting to remove service"), 0u);
    EXPECT_EQ(AgentWorld::Stored("TcpAddr"), "server.example");
}

TEST(ProgramTest, VersionListsEachToolbox) {
    const AgentWorld world;
    const Outcome outcome =
        Wardex(world, {"-version", std::string("-load=") + WARDEX_SESSION_TOOLBOX});
    EXPECT_EQ(outcome.exitCode, 0);
    const std::vector<std::string> lines = scratch::Lines(outcome.out);
    ASSERT_EQ(lines.size(), 3u) << outcome.out;
    EXPECT_EQ(lines[1], "\tagent Version 6.8.282 (32 bit)");
    EXPECT_EQ(lines[2], std::string("\t") + WARDEX_SESSION_TOOLBOX + " 1.0.7");
}

// Read as empty, the store would leave the agent on its defaults, its log file included,
// with nothing to say why.
TEST(ProgramTest, ASettingsStoreThatDoesNotParseIsNamedOnStandardError) {
    const AgentWorld world;
    scratch::WriteFile(sys::RegistryFile::DefaultPath(),
                       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\n");
    const Outcome outcome = Wardex(world, {"-version"});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.err, "wardex: the settings store cannot be read, no setting applies: " +
                               sys::RegistryFile::DefaultPath() +
                               " line 3: a key line must end with \"]\"\n");
}

// Table order, which is neither the store's nor the alphabet's; "-verbose" also comes before
// the modes that follow it in the table.
TEST(ProgramTest, VerbosePrintsTheStoredSettingsInTableOrder) {
    const AgentWorld world;
    world.Store({{"ClientID", "pc-17"},
                 {"TcpPort", "4040"},
                 {"ConsoleName", "desk"},
                 {"TcpAddr", "server.example"}});
    const Outcome outcome = Wardex(world, {"-verbose", "-debug", "-load=a.so"});
    EXPECT_EQ(outcome.exitCode, 0);
    const std::vector<std::string> lines = scratch::Lines(outcome.out);
    const std::string log = world.LogPath();
    const std::vector<std::string> expected = {
        "\tagent Version 6.8.282 (32 bit)",
        "LogFile=" + log,
        "LogInformation=1",
        "LogErrors=1",
        "LogDebug=1",
        "LogSize=10000000",
        "TcpAddr=server.example",
        "TcpPort=4040",
        "ConsoleName=desk",
        "ClientID=pc-17",
    };
    ASSERT_EQ(lines.size(), expected.size() + 1) << outcome.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);
}

// The settings input file is taken from beside the program, applied and consumed; once the
// streams are reopened the console shows nothing.
TEST(ProgramTest, ShiftkitQuietAppliesTheInputFileSilently) {
    const AgentWorld world;
    scratch::WriteFile(world.InputFile(), "TcpPort=4321\n");
    const std::string load = std::string("-load=") + WARDEX_SESSION_TOOLBOX;
    const Outcome quiet = Wardex(world, {"-skt", "-q", load});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(AgentWorld::Stored("TcpPort"), "4321");
    EXPECT_FALSE(std::filesystem::exists(world.InputFile()));

    const Outcome loud = Wardex(world, {"-skt", load});
    EXPECT_EQ(loud.exitCode, 0);
    EXPECT_NE(loud.out, "");
}

// The crash handler is installed first thing: a toolbox that crashes while the
// configuration file is applied leaves one dump beside the program, and the program still
// ends by the fault's signal.
TEST(ProgramTest, AToolboxThatCrashesLeavesOneDumpBesideTheProgram) {
    const AgentWorld world;
    scratch::WriteFile(world.ConfigFile(), "TcpPort=4321\n");
    const Outcome outcome = Wardex(world, {"-skt", std::string("-load=") + WARDEX_CRASH_TOOLBOX});
    EXPECT_EQ(outcome.exitCode, 128 + SIGSEGV) << outcome.out << outcome.err;
    std::vector<std::string> dumps;
    for (const auto& entry : std::filesystem::directory_iterator(world.ProgramFolder())) {
        if (entry.path().extension() == ".dmp") {
            dumps.push_back(entry.path().filename().string());
        }
    }
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0].size(), 36u + 4u) << "a GUID and .dmp: " << dumps[0];
    EXPECT_EQ(scratch::ReadFile(world.ProgramFolder() + "/" + dumps[0]).substr(0, 4), "MDMP");
}

// Two sessions in one console run: the server closes the first connection, the agent
// connects again at once and the session count reaches the second session through the
// state file beside the program.
TEST(ProgramTest, DebugRunsCarryTheStateFromSessionToSession) {
    const AgentWorld world;
    testsupport::TestServer listener;
    world.Store({{"TcpAddr", "127.0.0.1"}, {"TcpPort", listener.PortText()}});
    auto server = std::async(std::launch::async, [&listener] {
        std::vector<std::string> requests;
        for (int session = 0; session < 2; ++session) {
            requests.push_back(testsupport::Peer(listener.Accept()).Next());
        }
        return requests;
    });
    const Outcome outcome =
        Wardex(world, {"-debug", "-count=2", std::string("-load=") + WARDEX_SESSION_TOOLBOX});
    const std::vector<std::string> requests = server.get();
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.out, "Application will exit in 2\n")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "Application will exit in 1\n"));
    EXPECT_EQ(requests, (std::vector<std::string>{"Request=CreateSession\nCount=1\n",
                                                  "Request=CreateSession\nCount=2\n"}));
    EXPECT_TRUE(std::filesystem::exists(world.ProgramFolder() + "/wardex.dat"));
}

}  // namespace
