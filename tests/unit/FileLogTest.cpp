#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "agent/log/FileLog.h"
#include "common/err/Errors.h"
#include "common/util/StringUtils.h"
#include "tests/support/ScratchFiles.h"

namespace {

using logging::CFileLog;
using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::WriteFile;

void Write(CFileLog& log, unsigned level, const std::string& message) {
    logging::LogHeader header;
    header.Stamp(level);
    log.Log(header, header.Text() + message);
}

// Numbered lines of exactly width bytes each, the line end included.
std::string NumberedLines(int count, std::size_t width, const std::string& lineEnd = "\n") {
    std::string text;
    for (int i = 0; i < count; ++i) {
        std::string line = util::Format("line %05d ", i);
        line.resize(width - lineEnd.size(), 'x');
        text += line + lineEnd;
    }
    return text;
}

TEST(FileLogTest, StaysDormantBelow1024BytesAndWritesFrom1024) {
    ScratchFolder folder;
    CFileLog log(true, true, true, folder / "agent.log", 1023, 204);
    WriteFile(folder / "agent.log", NumberedLines(20, 100));
    Write(log, 0, "not written");
    log.AdjustFileForSize();
    EXPECT_EQ(ReadFile(folder / "agent.log"), NumberedLines(20, 100)) << "no line, no cut";

    log.SetLogParams(true, true, true, folder / "other.log", 1024);
    EXPECT_TRUE(log.IsActive());
    Write(log, 0, "written");
    EXPECT_EQ(scratch::Lines(ReadFile(folder / "other.log")).size(), 1u);
}

TEST(FileLogTest, CutsOnceTheFileReachesItsMaximumAndNotAByteEarlier) {
    ScratchFolder folder;
    const std::string prefill = NumberedLines(10, 100);
    CFileLog log(true, false, false, folder / "agent.log", 2000, 400);

    WriteFile(folder / "agent.log", prefill);
    log.Log(logging::LogHeader(), std::string(998, 'y'));  // 1999 bytes with the LF
    EXPECT_EQ(ReadFile(folder / "agent.log").size(), 1999u);

    WriteFile(folder / "agent.log", prefill);
    log.Log(logging::LogHeader(), std::string(999, 'y'));  // exactly 2000 bytes
    // The cut point is the minimum cut, 400; the kept text starts after the LF at 499.
    EXPECT_EQ(ReadFile(folder / "agent.log"), prefill.substr(500) + std::string(999, 'y') + "\n");
}

TEST(FileLogTest, ChecksTheSizeEvenForALevelThatIsNotWritten) {
    ScratchFolder folder;
    CFileLog log(true, false, false, folder / "agent.log", 2000, 400);
    const std::string prefill = NumberedLines(25, 100);
    WriteFile(folder / "agent.log", prefill);
    Write(log, 2, "debug is off");
    // Cut point 2500 - 2000 = 500, at a line start; the kept text begins after that line.
    EXPECT_EQ(ReadFile(folder / "agent.log"), prefill.substr(600));
}

TEST(FileLogTest, CutsTheFrontAwayUpToTheNextLineStart) {
    struct Case {
        const char* what;
        std::uint32_t maximum, minimumCut;
        std::string text;
        std::size_t keptFrom;
    };
    const Case cases[] = {
        // 1200 - 1100 is below the minimum cut, so the cut point is 250, inside line 2.
        {"LF", 1100, 250, NumberedLines(12, 100), 300},
        {"CR LF", 1100, 250, NumberedLines(12, 100, "\r\n"), 300},
        {"lone CR", 1100, 250, NumberedLines(12, 100, "\r"), 300},
        // From the cut point 1000 the search window ends with the CR; its LF comes next.
        {"CR LF across the window's end", 7000, 1000,
         std::string(1000, 'a') + std::string(4095, 'b') + "\r\n" + NumberedLines(20, 100, "\r\n"),
         5097},
        {"no line end within 4096 bytes", 8000, 1000,
         std::string(1000, 'a') + std::string(4096, 'b') + "\n" + NumberedLines(30, 100), 1000},
        // A minimum cut fixed under a larger earlier limit reaches past the end: all goes.
        {"minimum cut past the end", 1024, 20000, NumberedLines(11, 100), 1100},
    };
    for (const Case& c : cases) {
        ScratchFolder folder;
        CFileLog log(true, true, true, folder / "agent.log", c.maximum, c.minimumCut);
        WriteFile(folder / "agent.log", c.text);
        log.AdjustFileForSize();
        EXPECT_EQ(ReadFile(folder / "agent.log"), c.text.substr(c.keptFrom)) << c.what;
    }
}

TEST(FileLogTest, ADeletedLogIsCreatedAgainButAMissingFolderRaisesTheLogError) {
    ScratchFolder folder;
    CFileLog log(true, true, true, folder / "logs/agent.log", 4096, 819);
    Write(log, 0, "before");
    std::filesystem::remove(folder / "logs/agent.log");
    log.AdjustFileForSize();
    EXPECT_FALSE(std::filesystem::exists(folder / "logs/agent.log"))
        << "a size check creates nothing";
    Write(log, 1, "after");
    const auto lines = scratch::Lines(ReadFile(folder / "logs/agent.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("] after")) << lines[0];

    std::filesystem::remove_all(folder / "logs");
    try {
        Write(log, 0, "lost");
        FAIL() << "no error raised";
    } catch (const logging::CAgentLogError& e) {
        EXPECT_STREQ(e.Message(), "CFileLog::Log() - open() failed on the file.");
        EXPECT_EQ(e.Value(), 4);
        EXPECT_EQ(e.SystemError(), static_cast<std::uint32_t>(ENOENT));
    }
}

// Eight threads write their numbered lines at once; afterwards the file must be within its
// limit and hold a suffix of what was written: for every thread seen, its last lines in
// order, none missing and none torn.
void LogFromEightThreadsAndCheck(std::uint32_t maximum, int linesEach) {
    ScratchFolder folder;
    CFileLog log(true, true, true, folder / "agent.log", maximum, maximum / 5);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&log, t, linesEach] {
            for (int s = 0; s < linesEach; ++s) {
                Write(log, 1, util::Format("T%d S%05d %s END", t, s, std::string(40, 'x').c_str()));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    const std::string text = ReadFile(folder / "agent.log");
    EXPECT_LT(text.size(), maximum);
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), '\n');
    const std::regex form(
        R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} \d+ 1\] T(\d) S(\d{5}) x{40} END)");
    std::map<int, std::vector<int>> seen;
    for (const std::string& line : scratch::Lines(text)) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(line, parts, form)) << "torn line: " << line;
        seen[std::stoi(parts[1])].push_back(std::stoi(parts[2]));
    }
    for (const auto& [thread, sequence] : seen) {
        for (std::size_t i = 0; i < sequence.size(); ++i) {
            const int expected = linesEach - static_cast<int>(sequence.size() - i);
            ASSERT_EQ(sequence[i], expected) << "thread " << thread << " lost or reordered lines";
        }
    }
}

TEST(FileLogTest, EightThreadsLoggingAtOnceKeepTheFileWithinItsLimitAndInWholeLines) {
    {
        SCOPED_TRACE("a small limit: a cut every few lines");
        LogFromEightThreadsAndCheck(4096, 400);
    }
    {
        // Each cut moves some 200 KB, so other threads' lines arrive while it runs.
        SCOPED_TRACE("a large limit: long cuts");
        LogFromEightThreadsAndCheck(256 * 1024, 2500);
    }
}

}  // namespace
