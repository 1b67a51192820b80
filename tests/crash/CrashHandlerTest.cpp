// The crash handler in a child process: each kind of crash leaves exactly one dump that
// describes it, and the child still ends by its signal. In sanitizer builds the child is told to
// leave the crash signals to its own handler, so the same checks run there.

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/crash/MinidumpReader.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFiles.h"

namespace {

namespace fs = std::filesystem;
namespace md = sys::minidump;
using crashtest::MinidumpReader;

// How a run of the crash child went.
struct ChildResult {
    int pid = 0;
    int signal = 0;  // the signal that ended it; 0 when it exited or hung and was killed
    std::uint32_t threadId = 0;
    std::uint64_t faultAddress = 0;
    std::string output;  // standard output, then standard error
};

// Runs the crash child, waiting at most a minute. The sanitizers' own crash handling is
// switched off, added to what options the test has, so that the handler under test runs.
ChildResult RunCrashChild(const std::vector<std::string>& arguments) {
    std::vector<std::string> environment;
    for (const std::string name : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
        const char* old = std::getenv(name.c_str());
        environment.push_back(name + "=" + (old != nullptr ? std::string(old) + ":" : "") +
                              "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:"
                              "handle_abort=0:detect_leaks=0");
    }
    std::vector<std::string> line{WARDEX_CRASH_CHILD};
    line.insert(line.end(), arguments.begin(), arguments.end());
    testsupport::ChildProcess child(line, environment);
    child.WaitForExit(std::chrono::seconds(60));
    ChildResult result{child.Pid(), child.EndingSignal(), 0, 0, child.Output() + child.Errors()};
    // The child announces "thread <id>" and, where it is known, "address <hex>".
    std::istringstream words(child.Output());
    for (std::string word; words >> word;) {
        if (word == "thread") {
            words >> result.threadId;
        } else if (word == "address") {
            words >> std::hex >> result.faultAddress >> std::dec;
        }
    }
    return result;
}

// Runs a command through the shell; what it printed on both streams.
std::string RunCommand(const std::string& command) {
    testsupport::ChildProcess shell({"/bin/sh", "-c", command + " 2>&1"});
    shell.WaitForExit(std::chrono::seconds(60));
    return shell.Output();
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    return files;
}

class CrashDumpTest : public testing::Test {
protected:
    ChildResult Crash(const std::string& how, const std::string& where) {
        return RunCrashChild({folder_.Path().string(), how, where});
    }
    // The folder's only file, which must be a dump named "<GUID>.dmp"; it is removed.
    MinidumpReader TakeOnlyDump() const {
        static const std::regex kGuidDump(
            "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\.dmp");
        const auto files = FilesIn(folder_.Path());
        EXPECT_EQ(files.size(), 1u);
        EXPECT_TRUE(std::regex_match(files.at(0).filename().string(), kGuidDump)) << files.at(0);
        EXPECT_EQ(fs::status(files.at(0)).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        MinidumpReader dump(files.at(0));
        for (const fs::path& file : files) {
            fs::remove(file);
        }
        return dump;
    }

    scratch::ScratchFolder folder_;
};

// Checks what the dump says about the crash: the exception names the signal, the thread and
// the fault address where it is known, and the thread's stack, saved from its stack pointer
// on (after an overflow: from where the stack's mapping begins, just above it), is in the
// memory list, one stack for each thread. Which modules hold the frames is for the debugger
// to show (DumpOpensInTheDebuggerWithTheBacktrace).
void ExpectDumpDescribes(const MinidumpReader& dump, const ChildResult& child, int signal) {
    const md::ExceptionStream exception = dump.Exception();
    EXPECT_EQ(exception.exceptionRecord.exceptionCode, static_cast<std::uint32_t>(signal));
    EXPECT_EQ(exception.threadId, child.threadId);
    if (child.faultAddress != 0) {
        EXPECT_EQ(exception.exceptionRecord.exceptionAddress, child.faultAddress);
    }
    const md::ContextAmd64 context = dump.Context(exception.threadContext);
    EXPECT_EQ(context.contextFlags, md::kContextAmd64Full);
    const auto threads = dump.Threads();
    const auto crashed = std::find_if(threads.begin(), threads.end(), [&](const md::Thread& t) {
        return t.threadId == child.threadId;
    });
    ASSERT_NE(crashed, threads.end());
    const md::MemoryDescriptor stack = crashed->stack;
    EXPECT_LE(stack.startOfMemoryRange, context.rsp + 64 * 1024);
    EXPECT_LT(context.rsp, stack.startOfMemoryRange + stack.memory.dataSize);
    const auto memory = dump.MemoryList();
    EXPECT_EQ(memory.size(), threads.size());
    EXPECT_TRUE(std::any_of(memory.begin(), memory.end(), [&](const md::MemoryDescriptor& m) {
        return m.startOfMemoryRange == stack.startOfMemoryRange;
    }));
}

// Each kind of crash, on the main thread, on a worker (while the main thread waits for it)
// or on a thread started as the agent starts its own, leaves one dump that describes it,
// and the child still ends by its signal. A stack overflow is dumped from the alternate stack
// the handler sets up for each of those threads.
TEST_F(CrashDumpTest, EachCrashLeavesOneDumpThatDescribesIt) {
    const struct {
        const char* how;
        const char* where;
        int signal;
    } rows[] = {
        {"segv", "worker", SIGSEGV},
        {"bus", "main", SIGBUS},
        {"ill", "worker", SIGILL},
        {"fpe", "main", SIGFPE},
        {"abort", "worker", SIGABRT},
        {"overflow", "main", SIGSEGV},
        {"overflow", "agent-thread", SIGSEGV},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.how) + " on " + row.where);
        const auto child = Crash(row.how, row.where);
        EXPECT_EQ(child.signal, row.signal) << child.output;
        ASSERT_NE(child.threadId, 0u) << child.output;
        EXPECT_EQ(std::string(row.where) == "main",
                  child.threadId == static_cast<std::uint32_t>(child.pid));
        ExpectDumpDescribes(TakeOnlyDump(), child, row.signal);
    }
}

// The first crash is dumped; a second one on the same thread inside the handler ends the
// process at once by its own signal. Two threads crashing at once leave one dump. Without
// its folder the handler writes nothing and the child still ends by its signal.
TEST_F(CrashDumpTest, ASecondCrashLeavesTheFirstDumpAndAMissingFolderNone) {
    EXPECT_EQ(Crash("in-handler", "main").signal, SIGILL);
    EXPECT_EQ(TakeOnlyDump().Exception().exceptionRecord.exceptionCode,
              static_cast<std::uint32_t>(SIGSEGV));
    EXPECT_EQ(Crash("segv", "workers").signal, SIGSEGV);
    EXPECT_GE(TakeOnlyDump().Threads().size(), 3u);
    EXPECT_EQ(RunCrashChild({folder_ / "missing", "fpe", "worker"}).signal, SIGFPE);
    EXPECT_TRUE(FilesIn(folder_.Path()).empty());
}

std::string OpenDump(const std::string& options, const std::string& program) {
    return RunCommand(std::string(WARDEX_OPEN_DUMP) + " " + options + " " + program);
}

// Both threads of the dump show with their backtraces: the crashing worker and the waiting
// main thread. The package ships its programs stripped, their debug information in a package
// of its own, one file per program named by its build id: a dump of the stripped program gets
// its names and source lines back from that folder.
TEST_F(CrashDumpTest, DumpOpensInTheDebuggerWithTheBacktraceAlsoOfAStrippedProgram) {
    if (RunCommand("command -v lldb").empty()) {
        GTEST_SKIP() << "lldb is not installed (scripts/setup installs it)";
    }
    EXPECT_EQ(Crash("segv", "worker").signal, SIGSEGV);
    const std::string dump = FilesIn(folder_.Path()).at(0).string();
    const std::string output = OpenDump(dump, WARDEX_CRASH_CHILD);
    for (const char* part : {"SIGSEGV", "CrashBySegv", "thread #2", "start_thread"}) {
        EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
    }
    scratch::ScratchFolder copies;
    const std::string stripped = copies / "crash_child";
    const std::string symbols = copies / "debug";
    const std::string split =
        std::string("child=") + WARDEX_CRASH_CHILD + "; id=$(readelf -n $child | sed -n " +
        "'s/^ *Build ID: //p'); folder=" + symbols + "/.build-id/$(echo $id | cut -c1-2); " +
        "mkdir -p $folder && objcopy --only-keep-debug $child $folder/$(echo $id | cut -c3-)" +
        ".debug && objcopy --strip-unneeded $child " + stripped + " && echo split";
    ASSERT_EQ(RunCommand(split), "split\n");
    EXPECT_EQ(OpenDump(dump, stripped).find("CrashBySegv"), std::string::npos)
        << "the stripped copy still has its symbols";
    const std::string found = OpenDump("-s " + symbols + " " + dump, stripped);
    EXPECT_NE(found.find("CrashChild.cpp:"), std::string::npos) << found;
}

}  // namespace
