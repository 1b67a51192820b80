#include <cerrno>
#include <ctime>

#include "agent/log/AgentLog.h"
#include "agent/log/FileLog.h"
#include "common/err/Errors.h"
#include "common/lang/CurrentThread.h"
#include "common/sys/Platform.h"
#include "common/util/StringUtils.h"
#include "tests/support/Environment.h"
#include "tests/support/TestBasics.h"

namespace {

using logging::CFileLog;
using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::WriteFile;

// What the log ends each line with: the system's own line end, as its text files have it.
const std::string kLineEnd = sys::kBuiltPlatform == sys::Platform::Windows ? "\r\n" : "\n";

// The log's lines, split at the system's line end.
std::vector<std::string> LogLines(std::string text) {
    for (auto at = text.find(kLineEnd); at != std::string::npos; at = text.find(kLineEnd, at + 1)) {
        text.replace(at, kLineEnd.size(), "\n");
    }
    return scratch::Lines(text);
}

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

// The message part of a log line, after its header.
std::string Message(const std::string& line) {
    return line.substr(line.find("] ") + 2);
}

TEST(LogHeaderTest, StampsLocalDateTimeMillisecondsTheStampingThreadAndLevel) {
    // Five and a half hours east of UTC: a header in UTC, or with the offset lost, differs.
    // Each test runs in a process of its own, so the zone stays with this one.
    testsupport::UseTimeZone("XST-05:30");
    // The system clock, as the header reads it; time() may lag it by a clock tick.
    const auto now = [] {
        return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    };
    const std::time_t before = now();
    logging::LogHeader header;
    std::string text;
    std::uint32_t workerId = 0;
    std::thread([&] {
        text = header.Stamp(7);
        workerId = lang::CurrentThreadId();
    }).join();
    ASSERT_GE(header.Seconds(), before);
    ASSERT_LE(header.Seconds(), now());
    const std::time_t local = static_cast<std::time_t>(header.Seconds()) + (5 * 60 + 30) * 60;
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "[%m/%d/%y %H:%M:%S", std::gmtime(&local));
    EXPECT_LT(header.Milliseconds(), 1000);
    EXPECT_NE(workerId, lang::CurrentThreadId());
    EXPECT_EQ(text, util::Format("%s.%03d %u 7] ", stamp, header.Milliseconds(), workerId));
}

constexpr int kSizeCheckOnly = -1;

// A log that writes errors only, over a file of the given text: one line of `length` bytes
// logged at `level` (or only a size check), then what the file holds. The log stays dormant
// below 1024 bytes; a line that leaves the file at or over its maximum cuts the front away
// up to the next line start after the cut point (the excess, at least the minimum cut), even
// when the line's level is not written; no line end within 4096 bytes of the cut point cuts
// there, mid-line. The maximum counts the bytes on disk, the line end's CR LF on Windows.
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
        {"a byte under the maximum", 2000, 400, NumberedLines(10, 100), 0, 999 - kLineEnd.size(), 0,
         true},
        // The cut point is the minimum cut, 400; the kept text starts after the LF at 499.
        {"at the maximum", 2000, 400, NumberedLines(10, 100), 0, 1000 - kLineEnd.size(), 500, true},
        {"a level not written: no cut either", 2000, 400, NumberedLines(25, 100), 2, 5, 0, false},
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
        const std::string line = c.written ? std::string(c.length, 'y') + kLineEnd : "";
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
    Write(log, 1, "after\nin two lines");
    EXPECT_EQ(Message(ReadFile(folder / "logs/agent.log")),
              "after" + kLineEnd + "in two lines" + kLineEnd)
        << "the last message only, each of its lines ended as the system's text files are";

    std::filesystem::remove_all(folder / "logs");
    // The folder is missing: ENOENT, or ERROR_PATH_NOT_FOUND on Windows.
    const unsigned missing = sys::kBuiltPlatform == sys::Platform::Windows ? 3u : ENOENT;
    std::string error = "none";
    try {
        Write(log, 0, "lost");
    } catch (const logging::CAgentLogError& e) {
        error = util::Format("%s %d %u", e.Message(), e.Value(), e.SystemError());
    }
    EXPECT_EQ(error, util::Format("CFileLog::Log() - open() failed on the file. 4 %u", missing));
}

// An instance of its own for each test, so that no test depends on another's set-up.
class TestAgentLog : public logging::CAgentLog {};

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
    const auto lines = LogLines(ReadFile(folder / "agent.log"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with(" 1] AgentLog:422 ***** InitializeFileLog *****")) << lines[0];
    EXPECT_EQ(Message(lines[1]), "test:1 - level 2");
    EXPECT_EQ(Message(lines[2]), "test:2 - level 1");
    EXPECT_FALSE(std::filesystem::exists(folder / "early.log"));
    EXPECT_FALSE(std::filesystem::exists(folder / "second.log"));

    WriteFile(folder / "blocker", "keep me\n");
    EXPECT_NO_THROW(log.SetLogParams(true, true, true, folder / "blocker/agent.log", 4096));
    EXPECT_FALSE(log.Takes(0));
    EXPECT_NO_THROW(log.Log(0, "%s:%d - nowhere to go", "test", 3));
    EXPECT_EQ(ReadFile(folder / "blocker"), "keep me\n");
}

TEST(AgentLogTest, TheMinimumCutIsAFifthOfTheFirstSizeAndStaysSo) {
    ScratchFolder folder;
    TestAgentLog log;
    log.InitializeFileLog(true, false, false, folder / "agent.log", 10000);
    log.SetLogParams(true, false, false, folder / "agent.log", 20000);
    const std::string prefill = NumberedLines(200, 100);
    WriteFile(folder / "agent.log", prefill);
    log.Log(0, "%s:%d - over the limit", "test", 1);
    // Cut point 2000 (10000 / 5), the start of line 20; the kept text starts at line 21.
    const std::string text = ReadFile(folder / "agent.log");
    const std::string kept = prefill.substr(2100);
    EXPECT_EQ(text.substr(0, kept.size()), kept);
    EXPECT_EQ(Message(text.substr(kept.size())), "test:1 - over the limit" + kLineEnd);
}

}  // namespace
