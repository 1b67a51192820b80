// The command line as a user types it: the real program, copied into a scratch program
// folder and run as a child process with a relocated root.

#include <fnmatch.h>
#include <signal.h>

#include <future>
#include <map>

#include "agent/service/linux/ServiceUnit.h"
#include "tests/support/AgentWorld.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestBasics.h"
#include "tests/support/TestPeer.h"

namespace {

using namespace std::string_literals;
using testsupport::AgentWorld;
namespace fs = std::filesystem;

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
    const auto child = world.Start(arguments);
    const std::optional<int> exitCode = child->WaitForExit(kLongestRun);
    EXPECT_TRUE(exitCode) << "the program did not end";
    return {exitCode.value_or(-1), child->Output(), child->Errors()};
}

// Whether the text is the pattern, in which each "*" stands for any run of bytes.
bool Matches(const std::string& text, const std::string& pattern) {
    std::string escaped;
    for (const char c : pattern) {
        escaped += c == '*' ? "*" : std::string{'\\', c};
    }
    return ::fnmatch(escaped.c_str(), text.c_str(), 0) == 0;
}

// Runs whose outcome is their exit code, what they print (standard output, then standard
// error), the lines they log and the dump they leave beside the program when they crash.
TEST(ProgramTest, RunsEndAsTheirArgumentsSay) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;  // "*" stands for anything
        std::vector<std::pair<std::string, std::size_t>> logCounts;
        std::map<std::string, std::string> stored = {};  // settings stored before the run
        std::map<std::string, std::string> files = {};   // by their path in the root folder
    };
    const std::string console = "Running Agent in console/debug mode";
    const std::string debugLine = "Running agent in console/debug mode\n";
    const std::string version = "\tagent Version 6.8.282 (64 bit)\n";
    const std::string versionLines = "Corvane Deployment Agent (wardex), *" + version;
    const std::string empty = "Toolbox List is empty, exiting";
    const std::string noSession = "Agent will exit after 0 reconnects ";
    const std::string load = std::string("-load=") + WARDEX_SESSION_TOOLBOX;
    const std::vector<Case> cases = {
        {{}, 1, "*", {{empty, 1}}},
        // Runs that only print; the console mode is logged only when it runs.
        {{"-?"}, 0, kUsage, {{console, 0}}},
        {{"-help"}, 0, kUsage, {{console, 0}}},
        {{"-helpme"}, 0, kUsage, {{console, 0}}},
        {{"-debug", "-help"}, 0, kUsage, {{console, 0}}},
        {{"-debug"},
         0,
         debugLine + "Toolbox List is empty - application will exit\n\n",
         {{console, 1}}},
        {{"-skt"}, 0, "ERROR: No toolbox list specified\n", {{console, 0}}},
        {{"-install"}, 1, "*", {{"no argument list provided", 1}, {"ServiceControl::Install", 0}}},
        // An option must begin an argument; "-load=" may stand anywhere in one.
        {{"x-debug", "x-load=a.so"},
         0,
         "",
         {{"ServiceControl::StartService", 1}, {"Leaving Main()", 1}}},
        {{"x-debug"}, 1, "*", {{empty, 1}}},
        // A count of zero, or one that is no number, runs no session.
        {{"-debug", "-count=0", "-load=a.so"},
         0,
         debugLine + "Found -count arg -count=0\n",
         {{noSession, 1}}},
        {{"-debug", "-count=many", "-load=a.so"},
         0,
         "*-count value \"many\" is not a number, taken as 0\n*",
         {{noSession, 1}}},
        {{"-version", "-load=missing-toolbox.so"},
         1,
         "*" + version + "unhandled  exception\n*\ncannot continue\n*",
         {}},
        {{"-version", "-load=" WARDEX_SESSION_TOOLBOX},
         0,
         versionLines + "\t" WARDEX_SESSION_TOOLBOX " 1.0.7\n",
         {}},
        // "-verbose" comes before the modes after it in the option table, and prints the stored
        // settings in the order of its own table, neither the store's nor the alphabet's; the
        // secret key only by its length.
        {{"-verbose", "-debug", "-load=a.so"},
         0,
         versionLines +
             "LogFile=*/agent.log\nLogInformation=1\nLogErrors=1\nLogDebug=1\nLogSize=10000000\n"
             "TcpAddr=server.example\nTcpPort=4040\nConsoleName=desk\nClientID=pc-17\n"
             "SecurityKey=(6 characters)\nVerifyServerName=1\nServerCertificatePins=ab\n",
         {{console, 0}},
         {{"ClientID", "pc-17"},
          {"TcpPort", "4040"},
          {"ConsoleName", "desk"},
          {"TcpAddr", "server.example"},
          {"SecurityKey", "s3cr3t"},
          {"ServerCertificatePins", "ab"},
          {"VerifyServerName", "1"}}},
        // The input file beside the program is applied; once the streams are reopened the
        // console shows nothing.
        {{"-skt", load},
         0,
         "*message = Settings=Specified\nTcpPort=4321\n*",
         {},
         {},
         {{"program/mireton.inp", "TcpPort=4321\n"}}},
        {{"-skt", "-q", load}, 0, "", {}},
        // Read as empty, a store that does not parse would leave the agent on its defaults,
        // its log file included, with nothing to say why.
        {{"-version"},
         0,
         "*\nwardex: the settings store cannot be read, no setting applies: "
         "*/etc/corvane/registry.reg line 3: a key line must end with \"]\"\n",
         {},
         {},
         {{"etc/corvane/registry.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\n"}}},
        // The crash handler is installed first thing: a toolbox that crashes while the
        // configuration file is applied leaves one dump beside the program (the loop's check),
        // and the program still ends by the fault's signal.
        {{"-skt", "-load=" WARDEX_CRASH_TOOLBOX},
         128 + SIGSEGV,
         "*",
         {},
         {},
         {{"mireton.cfg", "TcpPort=4321\n"}}},
        // A unit folder that cannot be written (a file stands in its place, which even root
        // cannot write into) gets a clear line.
        {{"-install", "-load=a.so"},
         0,
         "*",
         {{"ServiceControl::Install - Failed to Open ServiceManager service", 1}},
         {},
         {{"etc/systemd/system", "not a folder\n"}}},
        // The option table's order decides, not the command line's: -install before -remove.
        {{"-install", "-remove", "-load=a.so,b.so"},
         0,
         "*",
         {{"Attempting to install service", 1}, {"Attempting to remove service", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const AgentWorld world;
        world.Store(c.stored);
        for (const auto& [path, text] : c.files) {
            const fs::path file = world.RootFolder() + "/" + path;
            fs::create_directories(file.parent_path());
            scratch::WriteFile(file, text);
        }
        const Outcome outcome = Wardex(world, c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_TRUE(Matches(outcome.out + outcome.err, c.out)) << outcome.out << outcome.err;
        for (const auto& [text, count] : c.logCounts) {
            EXPECT_EQ(world.LogCount(text), count) << text;
        }
        const auto dumps = std::count_if(
            fs::directory_iterator(world.ProgramFolder()), fs::directory_iterator(),
            [](const fs::directory_entry& entry) { return entry.path().extension() == ".dmp"; });
        EXPECT_EQ(dumps, c.exitCode == 128 + SIGSEGV ? 1 : 0);
    }
}

// Two sessions in one console run: the server closes the first connection, the agent
// connects again at once and the session count reaches the second session through the
// state file beside the program.
TEST(ProgramTest, DebugRunsCarryTheStateFromSessionToSession) {
    AgentWorld world;
    auto server = std::async(std::launch::async, [&world] {
        std::vector<std::string> requests;
        for (int session = 0; session < 2; ++session) {
            requests.push_back(testsupport::Peer(world.listener.Accept()).Next());
        }
        return requests;
    });
    const Outcome outcome =
        Wardex(world, {"-debug", "-count=2", std::string("-load=") + WARDEX_SESSION_TOOLBOX});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Matches(outcome.out, "*Application will exit in 2\n*Application will exit in 1\n*"))
        << outcome.out;
    EXPECT_EQ(server.get(), (std::vector<std::string>{"Request=CreateSession\nCount=1\n",
                                                      "Request=CreateSession\nCount=2\n"}));
    EXPECT_TRUE(fs::exists(world.StateFile()));
}

// Installing writes the enabled unit once; removing deletes it, its link and the settings, and
// with nothing left to remove says so and still ends normally.
TEST(ProgramTest, InstallWritesTheEnabledUnitOnceAndRemoveDeletesItWithTheSettings) {
    const AgentWorld world;
    world.Store({{"TcpAddr", "server.example"}});
    const std::string folder = world.RootFolder() + "/etc/systemd/system/";
    const std::string unitFile = folder + "corvane-deployment-agent.service";
    const std::string link = folder + "multi-user.target.wants/corvane-deployment-agent.service";
    EXPECT_EQ(Wardex(world, {"-install", "-load=a.so,b.so"}).exitCode, 0);
    const std::string unit = scratch::ReadFile(unitFile);
    for (const std::string& line :
         {"ExecStart=" + world.ProgramFolder() + "/wardex -load=a.so,b.so", "Type=notify"s,
          "Restart=on-failure"s, "Description=Corvane Deployment Agent"s,
          "WantedBy=multi-user.target"s}) {
        EXPECT_TRUE(Matches(unit, "*\n" + line + "\n*")) << line << " in\n" << unit;
    }
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::canonical(link), fs::canonical(unitFile));
    EXPECT_EQ(Wardex(world, {"-install", "-load=other.so"}).exitCode, 0);
    EXPECT_EQ(scratch::ReadFile(unitFile), unit) << "the second install changes nothing";
    EXPECT_EQ(world.LogCount("ServiceControl::Install - Failed to CreateService"), 1u);

    EXPECT_EQ(Wardex(world, {"-remove"}).exitCode, 0);
    EXPECT_FALSE(fs::exists(unitFile));
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_FALSE(
        Matches(scratch::ReadFile(world.RootFolder() + "/etc/corvane/registry.reg"), "*Corvane*"));
    world.Store({{"LogFile", world.LogPath()}, {"LogErrors", "1"}, {"LogSize", "100000"}});
    EXPECT_EQ(Wardex(world, {"-delete"}).exitCode, 0);
    EXPECT_EQ(world.LogCount("ServiceControl::Delete - Failed to open service"), 1u);
    // Odd program paths stay whole.
    EXPECT_TRUE(Matches(UnitText("A", "/opt/my agent/wardex", "-load=a.so"),
                        "*\nExecStart=\"/opt/my agent/wardex\" -load=a.so\n*"));
    EXPECT_TRUE(Matches(UnitText("A", "/opt/100%/wardex", "-load=$x.so"),
                        "*\nExecStart=/opt/100%%/wardex -load=$$x.so\n*"));
}

}  // namespace
