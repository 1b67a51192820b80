// The crash handler in a child process: each kind of crash, on the main thread, on a worker
// and inside a toolbox, leaves exactly one dump that describes it, and the child still ends
// by its signal. In sanitizer builds the child is told to leave the crash signals to its own
// handler (see CrashChildRun), so the same checks run there.

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

#include "common/sys/CrashHandler.h"
#include "tests/crash/CrashChildRun.h"
#include "tests/crash/MinidumpReader.h"
#include "tests/support/ScratchFiles.h"

namespace {

namespace fs = std::filesystem;
namespace md = sys::minidump;
using crashtest::MinidumpReader;

class CrashDumpTest : public testing::Test {
protected:
    crashtest::ChildResult Crash(const std::string& how, bool onWorker) {
        std::vector<std::string> arguments{folder_.Path().string(), how};
        if (onWorker) {
            arguments.push_back("worker");
        }
        return crashtest::RunCrashChild(arguments);
    }

    // The one file in the folder, which must be a dump.
    fs::path OnlyDump() {
        const auto files = crashtest::FilesIn(folder_.Path());
        EXPECT_EQ(files.size(), 1u);
        if (files.size() != 1) {
            return {};
        }
        EXPECT_TRUE(crashtest::IsDumpName(files.front())) << files.front();
        return files.front();
    }

    scratch::ScratchFolder folder_;
};

void ExpectEndedBy(const crashtest::ChildResult& child, int signal) {
    ASSERT_TRUE(child.finished) << "the child hung";
    EXPECT_EQ(child.signal, signal)
        << "exit code " << child.exitCode << ", output: " << child.output;
}

const crashtest::ModuleEntry* ModuleHolding(const std::vector<crashtest::ModuleEntry>& modules,
                                            std::uint64_t address) {
    for (const auto& module : modules) {
        if (address >= module.base && address - module.base < module.size) {
            return &module;
        }
    }
    return nullptr;
}

// Checks what the dump says about the crash and returns the name of the module that holds
// the crashing instruction.
std::string ExpectDumpDescribes(const MinidumpReader& dump, int signal, std::uint32_t threadId) {
    const md::ExceptionStream exception = dump.Exception();
    EXPECT_EQ(exception.exceptionRecord.exceptionCode, static_cast<std::uint32_t>(signal));
    EXPECT_EQ(exception.threadId, threadId);

    const md::ContextAmd64 context = dump.Context(exception.threadContext);
    EXPECT_EQ(context.contextFlags, md::kContextAmd64Full);
    const auto threads = dump.Threads();
    const auto crashed = std::find_if(threads.begin(), threads.end(),
                                      [&](const md::Thread& t) { return t.threadId == threadId; });
    EXPECT_NE(crashed, threads.end());
    if (crashed != threads.end()) {
        // The stack saved with the thread starts at its stack pointer (after an overflow: where
        // the stack's mapping begins, just above it) and is in the memory list.
        const md::MemoryDescriptor stack = crashed->stack;
        EXPECT_LE(stack.startOfMemoryRange, context.rsp + 64 * 1024);
        EXPECT_LT(context.rsp, stack.startOfMemoryRange + stack.memory.dataSize);
        const auto memory = dump.MemoryList();
        EXPECT_TRUE(std::any_of(memory.begin(), memory.end(), [&](const md::MemoryDescriptor& m) {
            return m.startOfMemoryRange == stack.startOfMemoryRange;
        }));
    }

    const md::SystemInfo system = dump.SystemInfo();
    EXPECT_EQ(system.processorArchitecture, md::kArchitectureAmd64);
    EXPECT_EQ(system.platformId, md::kPlatformLinux);
    EXPECT_TRUE(dump.HasStream(md::kLinuxMapsStream));

    const auto modules = dump.Modules();
    const crashtest::ModuleEntry* holder = ModuleHolding(modules, context.rip);
    if (holder == nullptr) {
        ADD_FAILURE() << "no listed module holds the instruction pointer " << std::hex
                      << context.rip;
        return {};
    }
    EXPECT_FALSE(holder->buildId.empty()) << holder->name;
    return fs::path(holder->name).filename().string();
}

// The main thread, stopped while it waited for the crashing worker, is in the dump too, with
// its own registers and stack.
void ExpectWaitingMainThread(const MinidumpReader& dump, std::uint32_t mainThreadId) {
    // Sanitizer runtimes may add threads of their own.
    const auto threads = dump.Threads();
    ASSERT_GE(threads.size(), 2u);
    const auto found = std::find_if(threads.begin() + 1, threads.end(), [&](const md::Thread& t) {
        return t.threadId == mainThreadId;
    });
    ASSERT_NE(found, threads.end());
    const md::Thread& main = *found;
    const md::ContextAmd64 context = dump.Context(main.threadContext);
    EXPECT_NE(ModuleHolding(dump.Modules(), context.rip), nullptr);
    EXPECT_LE(main.stack.startOfMemoryRange, context.rsp);
    EXPECT_LT(context.rsp, main.stack.startOfMemoryRange + main.stack.memory.dataSize);
    EXPECT_EQ(dump.MemoryList().size(), threads.size());
}

struct CrashKind {
    const char* how;
    int signal;
    const char* module;  // the file that holds the crashing instruction
};

std::string PrintKind(const testing::TestParamInfo<CrashKind>& info) {
    return info.param.how;
}

void PrintTo(const CrashKind& kind, std::ostream* out) {
    *out << kind.how;
}

class CrashKindTest : public CrashDumpTest, public testing::WithParamInterface<CrashKind> {
protected:
    void CheckCrash(bool onWorker) {
        const CrashKind kind = GetParam();
        const auto child = Crash(kind.how, onWorker);
        ExpectEndedBy(child, kind.signal);
        ASSERT_NE(child.threadId, 0u) << child.output;
        EXPECT_EQ(onWorker, child.threadId != static_cast<std::uint32_t>(child.pid));
        const fs::path file = OnlyDump();
        ASSERT_FALSE(file.empty());
        const MinidumpReader dump(file);
        EXPECT_EQ(ExpectDumpDescribes(dump, kind.signal, child.threadId).rfind(kind.module, 0), 0u);
        if (child.faultAddress != 0) {
            EXPECT_EQ(dump.Exception().exceptionRecord.exceptionAddress, child.faultAddress);
        }
        if (onWorker) {
            ExpectWaitingMainThread(dump, static_cast<std::uint32_t>(child.pid));
        }
    }
};

TEST_P(CrashKindTest, CrashOnMainThreadLeavesOneDump) {
    CheckCrash(false);
}

TEST_P(CrashKindTest, CrashOnWorkerThreadLeavesOneDump) {
    CheckCrash(true);
}

INSTANTIATE_TEST_SUITE_P(Signals, CrashKindTest,
                         testing::Values(CrashKind{"segv", SIGSEGV, "crash_child"},
                                         CrashKind{"bus", SIGBUS, "crash_child"},
                                         CrashKind{"ill", SIGILL, "crash_child"},
                                         CrashKind{"fpe", SIGFPE, "crash_child"},
                                         CrashKind{"abort", SIGABRT, "libc.so"}),
                         PrintKind);

TEST_F(CrashDumpTest, CrashInToolboxOnWorkerNamesTheToolbox) {
    const auto child = Crash("toolbox", true);
    ExpectEndedBy(child, SIGSEGV);
    const fs::path file = OnlyDump();
    ASSERT_FALSE(file.empty());
    const MinidumpReader dump(file);
    EXPECT_EQ(ExpectDumpDescribes(dump, SIGSEGV, child.threadId), "crash_toolbox.so");
    EXPECT_EQ(dump.Exception().exceptionRecord.exceptionAddress, child.faultAddress);
}

// The handler runs on an alternate stack: the installing thread's, and one of its own for
// each thread the agent starts.
TEST_F(CrashDumpTest, StackOverflowIsDumpedOnTheInstallingThreadAndOnAThreadOfTheAgent) {
    for (const std::string where : {"main", "agent-thread"}) {
        SCOPED_TRACE(where);
        const auto child = crashtest::RunCrashChild({folder_.Path().string(), "overflow", where});
        ExpectEndedBy(child, SIGSEGV);
        const fs::path file = OnlyDump();
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(ExpectDumpDescribes(MinidumpReader(file), SIGSEGV, child.threadId),
                  "crash_child");
        fs::remove(file);
    }
}

TEST_F(CrashDumpTest, CrashInsideTheHandlerEndsTheProcess) {
    // The first crash is dumped; the second, on the same thread inside the handler, ends the
    // process at once by its own signal.
    ExpectEndedBy(Crash("in-handler", false), SIGILL);
    const fs::path file = OnlyDump();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(MinidumpReader(file).Exception().exceptionRecord.exceptionCode,
              static_cast<std::uint32_t>(SIGSEGV));
}

TEST_F(CrashDumpTest, TwoThreadsCrashingAtOnceLeaveOneDump) {
    const auto child = crashtest::RunCrashChild({folder_.Path().string(), "segv", "workers"});
    ExpectEndedBy(child, SIGSEGV);
    const fs::path file = OnlyDump();
    ASSERT_FALSE(file.empty());
    const MinidumpReader dump(file);
    EXPECT_EQ(dump.Exception().exceptionRecord.exceptionCode, static_cast<std::uint32_t>(SIGSEGV));
    EXPECT_GE(dump.Threads().size(), 3u);
}

TEST_F(CrashDumpTest, RemovedHandlerWritesNothing) {
    ExpectEndedBy(Crash("removed", false), SIGSEGV);
    EXPECT_TRUE(crashtest::FilesIn(folder_.Path()).empty());
}

TEST_F(CrashDumpTest, MissingFolderStillEndsBySignal) {
    ExpectEndedBy(crashtest::RunCrashChild({folder_ / "missing", "fpe", "worker"}), SIGFPE);
    EXPECT_TRUE(crashtest::FilesIn(folder_.Path()).empty());
}

TEST(CrashHandlerInstallTest, InstallsOnceAndRemovesBackToTheFormerActions) {
    struct sigaction before {};
    ::sigaction(SIGSEGV, nullptr, &before);
    ASSERT_TRUE(sys::InstallCrashHandler(fs::temp_directory_path().string()));
    EXPECT_FALSE(sys::InstallCrashHandler(fs::temp_directory_path().string()));
    struct sigaction during {};
    ::sigaction(SIGSEGV, nullptr, &during);
    EXPECT_NE(during.sa_sigaction, before.sa_sigaction);
    sys::RemoveCrashHandler();
    struct sigaction after {};
    ::sigaction(SIGSEGV, nullptr, &after);
    EXPECT_EQ(after.sa_sigaction, before.sa_sigaction);
    EXPECT_FALSE(sys::InstallCrashHandler(std::string(5000, 'a'))) << "a folder too long";
    EXPECT_TRUE(sys::InstallCrashHandler(fs::temp_directory_path().string()));
    sys::RemoveCrashHandler();
}

bool LldbInstalled() {
    return !crashtest::RunCommand("command -v lldb").empty();
}

std::string OpenDump(const std::string& options, const fs::path& dump, const std::string& program) {
    return crashtest::RunCommand(std::string(WARDEX_OPEN_DUMP) + " " + options + " " +
                                 dump.string() + " " + program);
}

TEST_F(CrashDumpTest, DumpOpensInTheDebuggerWithTheBacktrace) {
    if (!LldbInstalled()) {
        GTEST_SKIP() << "lldb is not installed (scripts/setup installs it); the dump is not "
                        "opened in a debugger";
    }
    ExpectEndedBy(Crash("segv", true), SIGSEGV);
    const fs::path file = OnlyDump();
    ASSERT_FALSE(file.empty());
    const std::string output = OpenDump("", file, WARDEX_CRASH_CHILD);
    EXPECT_NE(output.find("SIGSEGV"), std::string::npos) << output;
    EXPECT_NE(output.find("CrashBySegv"), std::string::npos) << output;
    // Both threads, each with its backtrace: the crashing worker and the waiting main thread.
    EXPECT_NE(output.find("thread #2"), std::string::npos) << output;
    EXPECT_NE(output.find("start_thread"), std::string::npos) << output;
}

// The package ships its programs stripped, their debug information in a package of its own,
// one file per program named by its build id: a dump of the stripped program gets its names
// and source lines back from that folder.
TEST_F(CrashDumpTest, DumpOfAStrippedProgramReadsItsSeparateDebugInformation) {
    if (!LldbInstalled()) {
        GTEST_SKIP() << "lldb is not installed (scripts/setup installs it)";
    }
    ExpectEndedBy(Crash("segv", false), SIGSEGV);
    const fs::path file = OnlyDump();
    ASSERT_FALSE(file.empty());
    scratch::ScratchFolder copies;
    const std::string stripped = copies / "crash_child";
    const std::string symbols = copies / "debug";
    const std::string split =
        std::string("child=") + WARDEX_CRASH_CHILD + "; id=$(readelf -n $child | sed -n " +
        "'s/^ *Build ID: //p'); folder=" + symbols + "/.build-id/$(echo $id | cut -c1-2); " +
        "mkdir -p $folder && objcopy --only-keep-debug $child $folder/$(echo $id | cut -c3-)" +
        ".debug && objcopy --strip-unneeded $child " + stripped + " && echo split";
    ASSERT_EQ(crashtest::RunCommand(split), "split\n");

    EXPECT_EQ(OpenDump("", file, stripped).find("CrashBySegv"), std::string::npos)
        << "the stripped copy still has its symbols";
    const std::string output = OpenDump("-s " + symbols, file, stripped);
    EXPECT_NE(output.find("CrashBySegv"), std::string::npos) << output;
    EXPECT_NE(output.find("CrashChild.cpp:"), std::string::npos) << output;
}

}  // namespace
