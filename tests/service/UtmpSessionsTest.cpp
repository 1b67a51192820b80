// Logons and logoffs read from a utmp file in the glibc layout.

#include <utmp.h>

#include <gtest/gtest.h>

#include "common/sys/UtmpSessions.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/UtmpFile.h"

namespace {

using scratch::WriteUtmp;

TEST(UtmpSessionsTest, UserRecordsComingAndGoingAreLogonsAndLogoffs) {
    const scratch::ScratchFolder folder;
    const std::string path = folder / "utmp";
    WriteUtmp(path, {{BOOT_TIME, "", "~", 0}, {USER_PROCESS, "alice", "pts/1", 10}});
    sys::UtmpSessions sessions(path);
    std::string problem;

    WriteUtmp(path, {{BOOT_TIME, "", "~", 0},
                     {DEAD_PROCESS, "", "pts/1", 10},
                     {USER_PROCESS, "bob", "tty2", 20}});
    const auto changes = sessions.Reread(problem);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_TRUE(changes[0].logon);
    EXPECT_EQ(changes[0].user, "bob");
    EXPECT_EQ(changes[0].line, "tty2");
    EXPECT_FALSE(changes[1].logon);
    EXPECT_EQ(changes[1].user, "alice");
    EXPECT_TRUE(problem.empty());

    // Another record rewritten changes nothing.
    WriteUtmp(path, {{BOOT_TIME, "", "~", 0},
                     {DEAD_PROCESS, "", "pts/1", 11},
                     {USER_PROCESS, "bob", "tty2", 20}});
    EXPECT_TRUE(sessions.Reread(problem).empty());
}

TEST(UtmpSessionsTest, MissingAndTruncatedFilesAreNamedAndLoseNothing) {
    const scratch::ScratchFolder folder;
    const std::string path = folder / "utmp";
    sys::UtmpSessions sessions(path);
    std::string problem;
    EXPECT_TRUE(sessions.Reread(problem).empty());
    EXPECT_NE(problem.find("cannot be read"), std::string::npos) << problem;

    problem.clear();
    WriteUtmp(path, {{USER_PROCESS, "alice", "pts/1", 10}, {USER_PROCESS, "bob", "tty2", 20}},
              sizeof(utmp) + 7);
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
