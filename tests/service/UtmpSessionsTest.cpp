// A utmp file in the glibc layout that is missing or cut short, or holds records that are not
// logons; logons and logoffs as the service reports them are covered with the service's life.

#include <utmp.h>

#include <gtest/gtest.h>

#include "common/sys/linux/UtmpSessions.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/UtmpFile.h"

namespace {

using scratch::WriteUtmp;

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
