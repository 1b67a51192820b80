// The service's life as systemd sees it: the real program started with a notify socket,
// stopped by signals from each of its states, told of logons and logoffs through the
// relocated utmp; the utmp reader itself; and the service on a bad day: no notify socket, no
// utmp, a server that sends no end, a log that cannot grow. (A kill in the middle of a
// settings write is the store's own test, where readers watch every write.)

#include <signal.h>
#include <utmp.h>

#include <set>

#include "common/sys/linux/UtmpSessions.h"
#include "tests/service/linux/ServiceTestSupport.h"
#include "tests/support/TestBasics.h"
#include "tests/support/UtmpFile.h"

namespace {

using scratch::WriteUtmp;
using servicetest::ServiceWorld;

// The reports up to and including "Stopped".
std::vector<std::string> ReportsUntilStopped(servicetest::NotifyListener& notify) {
    std::vector<std::string> reports;
    for (std::string report = notify.Next(); !report.empty(); report = notify.Next()) {
        reports.push_back(report);
        if (report.find("STATUS=Stopped") != std::string::npos) {
            break;
        }
    }
    return reports;
}

// The replies a stalled server did not read reach it after all or stay in the state file with
// the output queue: each once, none lost or doubled.
void ExpectEachReplySentOrSaved(const ServiceWorld& world, testsupport::Peer& server) {
    std::multiset<int> tags = servicetest::Tags(scratch::ReadFile(world.StateFile()));
    EXPECT_FALSE(tags.empty()) << "the stalled replies are in the state file";
    while (const std::optional<std::string> reply = server.NextOrEnd()) {
        tags.merge(servicetest::Tags(*reply));
    }
    const std::set<int> distinct(tags.begin(), tags.end());
    EXPECT_EQ(tags.size(), distinct.size()) << "a reply was doubled";
    EXPECT_EQ(distinct.size(), std::size_t{servicetest::kStalledReplies}) << "a reply was lost";
}

// SIGTERM and SIGINT stop the service in order from every state, each report one check point
// further, with one stop report for each wait for the bootstrap; a second signal close
// behind the first stops nothing twice. Replies not yet written are kept.
TEST(ServiceLifeTest, EveryStateStopsInOrderOnSigtermOrSigint) {
    const std::string waiting = "Waiting 2000 milliseconds for bootstrap thread to exit ";
    int signal = SIGINT;
    for (const servicetest::StopState& state : servicetest::StopStates()) {
        SCOPED_TRACE(state.name);
        signal = signal == SIGINT ? SIGTERM : SIGINT;
        ServiceWorld world;
        std::unique_ptr<testsupport::ChildProcess> service;
        const servicetest::Reached reached =
            state.reach(world, [&] { service = world.StartService(); });
        service->Signal(signal);
        service->Signal(signal);
        const std::vector<std::string> reports = ReportsUntilStopped(world.notify);
        EXPECT_EQ(service->WaitForExit(), 0) << service->Errors();
        ASSERT_GE(reports.size(), 5u);
        std::vector<std::string> expected = {
            "STATUS=Starting, check point 1", "READY=1\nSTATUS=Running, check point 2",
            "STOPPING=1\nEXTEND_TIMEOUT_USEC=5000000\nSTATUS=Stopping, check point 3"};
        for (std::size_t point = 4; point < reports.size(); ++point) {
            expected.push_back(
                "STOPPING=1\nEXTEND_TIMEOUT_USEC=3000000\nSTATUS=Stopping, check point " +
                std::to_string(point));
        }
        expected.push_back("STATUS=Stopped, check point " + std::to_string(reports.size()));
        EXPECT_EQ(reports, expected);
        EXPECT_EQ(world.LogCount(waiting), reports.size() - 4);
        for (const char* once : {"Received SERVICE_CONTROL_STOP",
                                 "thread exited, sending  SERVICE_STOPPED", "Leaving Main()"}) {
            EXPECT_EQ(world.LogCount(once), 1u) << once;
        }
        if (reached.stalled) {
            ExpectEachReplySentOrSaved(world, *reached.stalled);
        }
    }
}

TEST(ServiceLifeTest, LogonAndLogoffReachTheToolboxesAndTheServer) {
    ServiceWorld world;
    world.Store({{"LogDebug", "1"}});
    WriteUtmp(world.Utmp(), {{BOOT_TIME, "", "~", 0}});
    const auto service = world.StartService();
    testsupport::Peer server(world.listener.Accept());
    ASSERT_EQ(server.Next(), "Request=CreateSession\nCount=1\n");

    WriteUtmp(world.Utmp(), {{BOOT_TIME, "", "~", 0}, {USER_PROCESS, "alice", "pts/3", 4242}});
    EXPECT_EQ(server.Next(), "Request=UpdateUser\nUsers=tester\n");
    WriteUtmp(world.Utmp(), {{BOOT_TIME, "", "~", 0}, {DEAD_PROCESS, "", "pts/3", 4242}});
    EXPECT_EQ(server.Next(), "Request=UpdateUser\nUsers=tester\n");
    for (const char* line :
         {"logon of alice on pts/3", "logoff of alice on pts/3", "dwEvent = 5 ", "dwEvent = 6 "}) {
        EXPECT_EQ(world.LogCount(line), 1u) << line;
    }

    // The dead process's record rewritten: neither a logon nor a logoff.
    WriteUtmp(world.Utmp(), {{BOOT_TIME, "", "~", 0}, {DEAD_PROCESS, "", "pts/3", 5151}});
    ASSERT_TRUE(world.WaitForLog("changed, no logon or logoff"));
    service->Signal(SIGTERM);
    EXPECT_EQ(server.NextOrEnd(), std::nullopt) << "the stop closes the connection";
    EXPECT_EQ(service->WaitForExit(), 0);
    EXPECT_EQ(world.LogCount("Checking currently logged on users"), 2u);
}

// A utmp file in the glibc layout that is missing or cut short, or holds records that are not
// logons.
TEST(UtmpSessionsTest, OnlyUserRecordsCountAndMissingOrTruncatedFilesLoseNothing) {
    const scratch::ScratchFolder folder;
    const std::string path = folder / "utmp";
    sys::UtmpSessions sessions(path);
    std::string problem;
    EXPECT_TRUE(sessions.Reread(problem).empty());
    EXPECT_NE(problem.find("cannot be read"), std::string::npos) << problem;

    problem.clear();
    // A terminal waiting for a logon and an ended session are nobody's logon.
    WriteUtmp(path,
              {{LOGIN_PROCESS, "LOGIN", "tty3", 5},
               {DEAD_PROCESS, "dave", "pts/4", 8},
               {USER_PROCESS, "alice", "pts/1", 10},
               {USER_PROCESS, "bob", "tty2", 20}},
              3 * sizeof(utmp) + 7);
    const auto changes = sessions.Reread(problem);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].user, "alice");
    EXPECT_NE(problem.find("partial record of 7 bytes"), std::string::npos) << problem;

    // The file gone for a moment: the last reading stays, nobody is logged off.
    std::filesystem::remove(path);
    EXPECT_TRUE(sessions.Reread(problem).empty());
    WriteUtmp(path, {{USER_PROCESS, "alice", "pts/1", 10}});
    EXPECT_TRUE(sessions.Reread(problem).empty());
}

// The service on a bad day: nobody listens on the notify socket, there is no utmp, the log
// copies every message and a full disk is played by a file-size limit. Each report that fails
// and the missing utmp get a line in the log (what a missing or partial utmp means is covered
// beside the utmp reader); a message without an end is discarded at its cap; the log that
// cannot grow says so once on standard error; the session goes on and the service stops.
TEST(FaultInjection, TheServiceGoesOnWithoutNotifySocketUtmpOrRoomForItsLog) {
    ServiceWorld world;
    world.Store({{"LogDebug", "1"}});
    std::filesystem::remove(world.RootFolder() + "/run");
    const auto service = world.StartService(world.Scratch() / "nobody-listens",
                                            {"/usr/bin/prlimit", "--fsize=1048576"});
    const auto server = servicetest::AcceptSession(world);
    server->SendRaw(std::string(17 << 20, 'x') + '\0');
    for (int tag = 0; tag < 20; ++tag) {
        server->Send(servicetest::Echo(tag, 60000));
        EXPECT_EQ(servicetest::Tags(server->Next()), std::multiset<int>{tag});
    }
    EXPECT_EQ(world.LogCount("Message over 16777216 bytes, discarding it up to its end"), 1u);
    EXPECT_EQ(world.LogCount("Discarded 1 message(s) over 16777216 bytes"), 1u);
    EXPECT_GE(world.LogCount("logons and logoffs cannot be seen"), 1u);
    // The reports of the start; those of the stop come when the log is full.
    EXPECT_GE(world.LogCount("Failed to Report Service Status"), 2u);
    service->Signal(SIGTERM);
    EXPECT_EQ(service->WaitForExit(), 0) << service->Errors();
    EXPECT_NE(service->Errors().find("cannot be written, lines are lost"), std::string::npos)
        << service->Errors();
}

}  // namespace
