#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "agent/log/FileLog.h"
#include "common/err/Errors.h"
#include "common/sys/Platform.h"
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

constexpr int kSizeCheckOnly = -1;

// A log that writes errors only, over a file of the given text: one line of `length` bytes
// logged at `level` (or only a size check), then what the file holds. The log stays dormant
// below 1024 bytes; a line that leaves the file at or over its maximum cuts the front away
// up to the next line start after the cut point (the excess, at least the minimum cut), even
// when the line's level is not written; no line end within 4096 bytes of the cut point cuts
// there, mid-line.
TEST(FileLogTest, CutsTheFrontAwayUpToTheNextLineStartOnceTheMaximumIsReached) {
    struct Case {
        const char* what;
        std::uint32_t maximum, minimumCut;
        std::string text;
        int level;
        std::size_t length;
        std::size_t keptFrom;
        bool written;
    };
    const std::string crossing =
        std::string(1000, 'a') + std::string(4095, 'b') + "\r\n" + NumberedLines(20, 100, "\r\n");
    const std::string endless =
        std::string(1000, 'a') + std::string(4096, 'b') + "\n" + NumberedLines(30, 100);
    const Case cases[] = {
        {"dormant: no line", 1023, 204, NumberedLines(20, 100), 0, 5, 0, false},
        {"dormant: no cut", 1023, 204, NumberedLines(20, 100), kSizeCheckOnly, 0, 0, false},
        {"active from 1024", 1024, 204, "", 0, 5, 0, true},
        {"a byte under the maximum", 2000, 400, NumberedLines(10, 100), 0, 998, 0, true},
        // The cut point is the minimum cut, 400; the kept text starts after the LF at 499.
        {"at the maximum", 2000, 400, NumberedLines(10, 100), 0, 999, 500, true},
        {"a level not written", 2000, 400, NumberedLines(25, 100), 2, 5, 600, false},
        {"LF", 1100, 250, NumberedLines(12, 100), kSizeCheckOnly, 0, 300, false},
        {"CR LF", 1100, 250, NumberedLines(12, 100, "\r\n"), kSizeCheckOnly, 0, 300, false},
        {"lone CR", 1100, 250, NumberedLines(12, 100, "\r"), kSizeCheckOnly, 0, 300, false},
        // From the cut point 1000 the search window ends with the CR; its LF comes next.
        {"CR LF across the window's end", 7000, 1000, crossing, kSizeCheckOnly, 0, 5097, false},
        {"no line end within 4096 bytes", 8000, 1000, endless, kSizeCheckOnly, 0, 1000, false},
        // A minimum cut fixed under a larger earlier limit reaches past the end: all goes.
        {"minimum cut past the end", 1024, 20000, NumberedLines(11, 100), kSizeCheckOnly, 0, 1100,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        CFileLog log(true, false, false, folder / "agent.log", c.maximum, c.minimumCut);
        WriteFile(folder / "agent.log", c.text);
        logging::LogHeader header;
        header.Stamp(c.level < 0 ? 0 : static_cast<unsigned>(c.level));
        c.level < 0 ? log.AdjustFileForSize() : log.Log(header, std::string(c.length, 'y'));
        const std::string line = c.written ? std::string(c.length, 'y') + "\n" : "";
        EXPECT_EQ(ReadFile(folder / "agent.log"), c.text.substr(c.keptFrom) + line);
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
        // The folder is missing: ENOENT, or ERROR_PATH_NOT_FOUND on Windows.
        EXPECT_EQ(e.SystemError(), sys::kBuiltPlatform == sys::Platform::Windows
                                       ? 3u
                                       : static_cast<std::uint32_t>(ENOENT));
    }
}

// Eight threads write their numbered lines at once; afterwards the file must be within its
// limit and hold a suffix of what was written: for every thread seen, its last lines in
// order, none missing and none torn. A small limit cuts every few lines; a large one makes
// each cut move some 200 KB, so other threads' lines arrive while it runs.
TEST(FileLogTest, EightThreadsLoggingAtOnceKeepTheFileWithinItsLimitAndInWholeLines) {
    const std::regex form(
        R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} \d+ 1\] T(\d) S(\d{5}) x{40} END)");
    for (const auto& [maximum, linesEach] : {std::pair{4096u, 400}, {256 * 1024u, 2500}}) {
        SCOPED_TRACE(maximum);
        ScratchFolder folder;
        CFileLog log(true, true, true, folder / "agent.log", maximum, maximum / 5);
        std::vector<std::jthread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&log, t, linesEach = linesEach] {
                for (int s = 0; s < linesEach; ++s) {
                    Write(log, 1,
                          util::Format("T%d S%05d %s END", t, s, std::string(40, 'x').c_str()));
                }
            });
        }
        threads.clear();
        const std::string text = ReadFile(folder / "agent.log");
        EXPECT_LT(text.size(), maximum);
        ASSERT_TRUE(text.ends_with('\n'));
        std::map<int, std::vector<int>> seen;
        for (const std::string& line : scratch::Lines(text)) {
            std::smatch parts;
            ASSERT_TRUE(std::regex_match(line, parts, form)) << "torn line: " << line;
            seen[std::stoi(parts[1])].push_back(std::stoi(parts[2]));
        }
        for (const auto& [thread, sequence] : seen) {
            std::vector<int> last(sequence.size());
            std::iota(last.begin(), last.end(), linesEach - static_cast<int>(sequence.size()));
            EXPECT_EQ(sequence, last) << "thread " << thread << " lost or reordered lines";
        }
    }
}

}  // namespace
