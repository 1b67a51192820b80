#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "agent/log/AgentLog.h"
#include "tests/support/ScratchFiles.h"

namespace {

using scratch::Lines;
using scratch::ReadFile;
using scratch::ScratchFolder;

// An instance of its own for each test, so that no test depends on another's set-up.
class TestAgentLog : public logging::CAgentLog {};

// The message part of a log line, after its header.
std::string Message(const std::string& line) {
    return line.substr(line.find("] ") + 2);
}

// Parameters before InitializeFileLog are ignored, and a second InitializeFileLog too; the
// flags come as errors, debug, information (levels 0, 2, 1). A log path through a file leaves
// the log dormant and silent until usable parameters come.
TEST(AgentLogTest, OnlyTheFirstInitializeCountsTheFlagsPickTheLevelsAndABadPathIsDormant) {
    ScratchFolder folder;
    TestAgentLog log;
    log.SetLogParams(true, true, true, folder / "early.log", 4096);
    log.Log(0, "%s:%d - dropped", "test", 0);
    log.InitializeFileLog(false, true, true, folder / "agent.log", 4096);
    log.InitializeFileLog(true, true, true, folder / "second.log", 4096);
    for (const auto& [debug, information] : {std::pair{true, false}, {false, true}}) {
        log.SetLogParams(false, debug, information, folder / "agent.log", 4096);
        for (unsigned level = 0; level <= 3; ++level) {
            log.Log(level, "%s:%d - level %u", "test", debug ? 1 : 2, level);
        }
    }
    const auto lines = Lines(ReadFile(folder / "agent.log"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Message(lines[0]), "AgentLog:422 ***** InitializeFileLog *****");
    EXPECT_NE(lines[0].find(" 1] "), std::string::npos) << lines[0];
    EXPECT_EQ(Message(lines[1]), "test:1 - level 2");
    EXPECT_EQ(Message(lines[2]), "test:2 - level 1");
    EXPECT_FALSE(std::filesystem::exists(folder / "early.log"));
    EXPECT_FALSE(std::filesystem::exists(folder / "second.log"));

    scratch::WriteFile(folder / "blocker", "keep me\n");
    EXPECT_NO_THROW(log.SetLogParams(true, true, true, folder / "blocker/agent.log", 4096));
    EXPECT_FALSE(log.IsActive());
    EXPECT_NO_THROW(log.Log(0, "%s:%d - nowhere to go", "test", 3));
    EXPECT_EQ(ReadFile(folder / "blocker"), "keep me\n");
}

TEST(AgentLogTest, TheMinimumCutIsAFifthOfTheFirstSizeAndStaysSo) {
    ScratchFolder folder;
    TestAgentLog log;
    log.InitializeFileLog(true, false, false, folder / "agent.log", 10000);
    log.SetLogParams(true, false, false, folder / "agent.log", 20000);
    std::string prefill;
    for (int i = 0; i < 200; ++i) {
        std::string line = "old line " + std::to_string(i) + " ";
        line.resize(99, '.');
        prefill += line + "\n";
    }
    scratch::WriteFile(folder / "agent.log", prefill);
    log.Log(0, "%s:%d - over the limit", "test", 1);
    // Cut point 2000 (10000 / 5), the start of old line 20; the kept text starts at line 21.
    const auto lines = Lines(ReadFile(folder / "agent.log"));
    ASSERT_EQ(lines.size(), 180u);
    EXPECT_TRUE(lines.front().starts_with("old line 21 ")) << lines.front();
    EXPECT_EQ(Message(lines.back()), "test:1 - over the limit");
}

}  // namespace
