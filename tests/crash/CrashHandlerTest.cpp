// The crash handler in a child process: each kind of crash leaves exactly one dump that
// describes it, and the child still ends by its signal. In sanitizer builds the child is told to
// leave the crash signals to its own handler (see CrashChildRun), so the same checks run there.

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "tests/crash/CrashChildRun.h"
#include "tests/crash/MinidumpReader.h"
#include "tests/support/ScratchFiles.h"

namespace {

namespace fs = std::filesystem;
namespace md = sys::minidump;
using crashtest::MinidumpReader;

class CrashDumpTest : public testing::Test {
protected:
    crashtest::ChildResult Crash(const std::string& how, const std::string& where) {
        return crashtest::RunCrashChild({folder_.Path().string(), how, where});
    }
    // The folder's only file, which must be a dump.
    MinidumpReader OnlyDump() const {
        const auto files = crashtest::FilesIn(folder_.Path());
        EXPECT_EQ(files.size(), 1u);
        EXPECT_TRUE(crashtest::IsDumpName(files.at(0))) << files.at(0);
        EXPECT_EQ(fs::status(files.at(0)).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        return MinidumpReader(files.at(0));
    }
    void RemoveDumps() const {
        for (const fs::path& file : crashtest::FilesIn(folder_.Path())) {
            fs::remove(file);
        }
    }

    scratch::ScratchFolder folder_;
};

// Checks what the dump says about the crash: the exception names the signal, the thread and
// the fault address where it is known, and the thread's stack, saved from its stack pointer
// on (after an overflow: from where the stack's mapping begins, just above it), is in the
// memory list, one stack for each thread. Which modules hold the frames is for the debugger
// to show (DumpOpensInTheDebuggerWithTheBacktrace).
void ExpectDumpDescribes(const MinidumpReader& dump, const crashtest::ChildResult& child,
                         int signal) {
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
        ExpectDumpDescribes(OnlyDump(), child, row.signal);
        RemoveDumps();
    }
}

// The first crash is dumped; a second one on the same thread inside the handler ends the
// process at once by its own signal. Two threads crashing at once leave one dump. Without
// its folder the handler writes nothing and the child still ends by its signal.
TEST_F(CrashDumpTest, ASecondCrashLeavesTheFirstDumpAndAMissingFolderNone) {
    EXPECT_EQ(Crash("in-handler", "main").signal, SIGILL);
    EXPECT_EQ(OnlyDump().Exception().exceptionRecord.exceptionCode,
              static_cast<std::uint32_t>(SIGSEGV));
    RemoveDumps();
    EXPECT_EQ(Crash("segv", "workers").signal, SIGSEGV);
    EXPECT_GE(OnlyDump().Threads().size(), 3u);
    RemoveDumps();
    EXPECT_EQ(crashtest::RunCrashChild({folder_ / "missing", "fpe", "worker"}).signal, SIGFPE);
    EXPECT_TRUE(crashtest::FilesIn(folder_.Path()).empty());
}

std::string OpenDump(const std::string& options, const std::string& program) {
    return crashtest::RunCommand(std::string(WARDEX_OPEN_DUMP) + " " + options + " " + program);
}

// Both threads of the dump show with their backtraces: the crashing worker and the waiting
// main thread. The package ships its programs stripped, their debug information in a package
// of its own, one file per program named by its build id: a dump of the stripped program gets
// its names and source lines back from that folder.
TEST_F(CrashDumpTest, DumpOpensInTheDebuggerWithTheBacktraceAlsoOfAStrippedProgram) {
    if (crashtest::RunCommand("command -v lldb").empty()) {
        GTEST_SKIP() << "lldb is not installed (scripts/setup installs it)";
    }
    EXPECT_EQ(Crash("segv", "worker").signal, SIGSEGV);
    const std::string dump = crashtest::FilesIn(folder_.Path()).at(0).string();
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
    ASSERT_EQ(crashtest::RunCommand(split), "split\n");
    EXPECT_EQ(OpenDump(dump, stripped).find("CrashBySegv"), std::string::npos)
        << "the stripped copy still has its symbols";
    const std::string found = OpenDump("-s " + symbols + " " + dump, stripped);
    EXPECT_NE(found.find("CrashChild.cpp:"), std::string::npos) << found;
}

}  // namespace
