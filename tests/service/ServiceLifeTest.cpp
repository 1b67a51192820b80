// The service's life as systemd sees it: the real program started with a notify socket,
// stopped by signals, told of logons and logoffs through the relocated utmp; and the utmp
// reader itself.

#include <signal.h>
#include <utmp.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

#include "common/sys/linux/UtmpSessions.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/TestPeer.h"
#include "tests/support/UtmpFile.h"

namespace {

using programtest::AgentWorld;
using scratch::WriteUtmp;
using servicetest::NotifyListener;
using servicetest::ServiceProcess;
using servicetest::ServiceWorld;
using servicetest::WaitForLog;

const std::string kWaiting = "Waiting 2000 milliseconds for bootstrap thread to exit ";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

unsigned CheckPoint(const std::string& report) {
    std::smatch match;
    const std::regex pattern("check point ([0-9]+)");
    return std::regex_search(report, match, pattern) ? std::stoul(match[1]) : 0;
}

// The reports up to and including "Stopped".
std::vector<std::string> ReportsUntilStopped(NotifyListener& notify) {
    std::vector<std::string> reports;
    for (std::string report = notify.Next(); !report.empty(); report = notify.Next()) {
        reports.push_back(report);
        if (Contains(report, "STATUS=Stopped")) {
            break;
        }
    }
    return reports;
}

// SIGTERM and SIGINT each stop the service in order; a second signal close behind the first
// stops nothing twice.
TEST(ServiceLifeTest, StartsReportsAndStopsOnSigtermOrSigint) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ServiceWorld world;
        ServiceProcess service(world, world.notify.Path());
        EXPECT_EQ(world.notify.Next(), "STATUS=Starting, check point 1");
        EXPECT_EQ(world.notify.Next(), "READY=1\nSTATUS=Running, check point 2");
        testsupport::Peer server(world.listener.Accept());
        EXPECT_EQ(server.Next(), "Request=CreateSession\nCount=1\n");

        service.Signal(signal);
        service.Signal(signal);
        const std::vector<std::string> stop = ReportsUntilStopped(world.notify);
        EXPECT_EQ(server.NextOrEnd(), std::nullopt) << "the stop closed the connection";
        EXPECT_EQ(service.WaitForExit(), 0);
        ASSERT_GE(stop.size(), 3u);
        EXPECT_EQ(stop[0],
                  "STOPPING=1\nEXTEND_TIMEOUT_USEC=5000000\nSTATUS=Stopping, check point 3");
        EXPECT_EQ(stop[1],
                  "STOPPING=1\nEXTEND_TIMEOUT_USEC=3000000\nSTATUS=Stopping, check point 4");
        EXPECT_TRUE(Contains(stop.back(), "STATUS=Stopped")) << stop.back();
        for (std::size_t i = 0; i < stop.size(); ++i) {
            EXPECT_EQ(CheckPoint(stop[i]), 3 + i) << stop[i];
        }
        EXPECT_EQ(world.LogCount(kWaiting), stop.size() - 2);
        EXPECT_EQ(world.LogCount("Received SERVICE_CONTROL_STOP"), 1u);
        EXPECT_EQ(world.LogCount("thread exited, sending  SERVICE_STOPPED"), 1u);
        EXPECT_EQ(world.LogCount("Leaving Main()"), 1u);
    }
}

TEST(ServiceLifeTest, LogonAndLogoffReachTheToolboxesAndTheServer) {
    ServiceWorld world;
    WriteUtmp(world.Utmp(), {{BOOT_TIME, "", "~", 0}});
    ServiceProcess service(world, world.notify.Path());
    testsupport::Peer server(world.listener.Accept());
    ASSERT_EQ(server.Next(), "Request=CreateSession\nCount=1\n");

    WriteUtmp(world.Utmp(), {{BOOT_TIME, "", "~", 0}, {USER_PROCESS, "alice", "pts/3", 4242}});
    EXPECT_EQ(server.Next(), "Request=UpdateUser\nUsers=tester\n");
    WriteUtmp(world.Utmp(), {{BOOT_TIME, "", "~", 0}, {DEAD_PROCESS, "", "pts/3", 4242}});
    EXPECT_EQ(server.Next(), "Request=UpdateUser\nUsers=tester\n");
    EXPECT_EQ(world.LogCount("logon of alice on pts/3"), 1u);
    EXPECT_EQ(world.LogCount("logoff of alice on pts/3"), 1u);
    EXPECT_EQ(world.LogCount("dwEvent = 5 "), 1u);
    EXPECT_EQ(world.LogCount("dwEvent = 6 "), 1u);

    // The dead process's record rewritten: neither a logon nor a logoff.
    WriteUtmp(world.Utmp(), {{BOOT_TIME, "", "~", 0}, {DEAD_PROCESS, "", "pts/3", 5151}});
    ASSERT_TRUE(WaitForLog(world, "changed, no logon or logoff"));
    service.Signal(SIGTERM);
    EXPECT_EQ(server.NextOrEnd(), std::nullopt) << "nothing more reaches the server";
    EXPECT_EQ(service.WaitForExit(), 0);
    EXPECT_EQ(world.LogCount("Checking currently logged on users"), 2u);
}

// Nobody listens on the notify socket, there is no utmp and the server is gone: every report
// fails with a line in the log, the utmp is named (what a missing or partial file means is
// covered beside the utmp reader), and a stop ends the reconnect wait of 15 seconds at once.
TEST(ServiceLifeTest, FailingReportsAMissingUtmpAndAReconnectWaitDoNotHoldAStopBack) {
    ServiceWorld world;
    std::filesystem::remove(world.RootFolder() + "/run");
    world.Store({{"TcpPort", std::to_string(testsupport::ClosedPort())}});
    ServiceProcess service(world, world.Scratch() / "nobody-listens");
    ASSERT_TRUE(WaitForLog(world, "logons and logoffs cannot be seen"));
    ASSERT_TRUE(WaitForLog(world, "Retrying startup in 15 seconds"));
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(std::chrono::seconds(5)), 0)
        << "the stop must not wait for the reconnect wait";
    EXPECT_GE(world.LogCount("Failed to Report Service Status"), 4u);
    EXPECT_EQ(world.LogCount("thread exited, sending  SERVICE_STOPPED"), 1u);
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

}  // namespace
