// The crash handler in a child process: each kind of crash leaves exactly one dump that
// describes it, and the child still ends by its signal. In sanitizer builds the child is told to
// leave the crash signals to its own handler, so the same checks run there. And the dump
// writer on memory that cannot be read.

#include <signal.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <regex>
#include <sys/mman.h>

#include "common/sys/linux/FileDescriptor.h"
#include "common/sys/linux/MinidumpFile.h"
#include "common/sys/linux/MinidumpFormat.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestBasics.h"

namespace {

namespace fs = std::filesystem;
namespace md = sys::minidump;

// A dump written by the crash handler, every record read checked to lie inside the file:
// anything out of place raises std::runtime_error.
class Minidump {
public:
    explicit Minidump(const fs::path& path) : data_(scratch::ReadFile(path)) {
        const auto header = Read<md::Header>(0);
        if (header.signature != md::kSignature || (header.version & 0xffff) != md::kVersion) {
            throw std::runtime_error("no minidump header");
        }
        for (std::uint32_t i = 0; i < header.numberOfStreams; ++i) {
            directory_.push_back(
                Read<md::Directory>(header.streamDirectoryRva + i * sizeof(md::Directory)));
            ExpectInside(directory_.back().location);
        }
    }

    template <typename T>
    T Read(std::uint64_t rva) const {
        if (rva > data_.size() || sizeof(T) > data_.size() - rva) {
            throw std::runtime_error("a record beyond the end of the dump");
        }
        T value;
        std::memcpy(&value, data_.data() + rva, sizeof(T));
        return value;
    }
    // The record the stream of the type holds; the records of a list stream after its count.
    template <typename T>
    T Stream(std::uint32_t type) const {
        return Read<T>(Find(type).rva);
    }
    template <typename T>
    std::vector<T> List(std::uint32_t type) const {
        const std::uint32_t rva = Find(type).rva;
        std::vector<T> records;
        for (std::uint32_t i = 0, count = Read<std::uint32_t>(rva); i < count; ++i) {
            records.push_back(Read<T>(rva + sizeof(count) + i * sizeof(T)));
        }
        return records;
    }
    void ExpectInside(const md::LocationDescriptor& where) const {
        EXPECT_LE(std::uint64_t{where.rva} + where.dataSize, data_.size());
    }

private:
    md::LocationDescriptor Find(std::uint32_t type) const {
        for (const md::Directory& entry : directory_) {
            if (entry.streamType == type) {
                return entry.location;
            }
        }
        throw std::runtime_error("no stream of type " + std::to_string(type));
    }

    std::string data_;
    std::vector<md::Directory> directory_;
};

// How a run of the crash child went.
struct ChildResult {
    int pid = 0;
    int signal = 0;  // the signal that ended it; 0 when it exited or hung
    std::uint32_t threadId = 0;
    std::uint64_t faultAddress = 0;
    std::string output;  // standard output, then standard error
};

// Runs the crash child, waiting at most a minute. The sanitizers' own crash handling is
// switched off, added to what options the test has, so that the handler under test runs.
ChildResult RunCrashChild(const std::string& folder, const std::string& how,
                          const std::string& where) {
    std::vector<std::string> environment;
    for (const std::string name : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
        const char* old = std::getenv(name.c_str());
        environment.push_back(name + "=" + (old != nullptr ? std::string(old) + ":" : "") +
                              "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:"
                              "handle_abort=0:detect_leaks=0");
    }
    testsupport::ChildProcess child({WARDEX_CRASH_CHILD, folder, how, where}, environment);
    const int exitCode = child.WaitForExit(std::chrono::seconds(60)).value_or(0);
    ChildResult result{child.Pid(), exitCode > 128 ? exitCode - 128 : 0, 0, 0,
                       child.Output() + child.Errors()};
    // The child announces "thread <id>" and, where it is known, "address <hex>".
    std::sscanf(child.Output().c_str(), "thread %" SCNu32 " address %" SCNx64, &result.threadId,
                &result.faultAddress);
    return result;
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    return std::vector<fs::path>(fs::directory_iterator(folder), fs::directory_iterator());
}

class CrashDumpTest : public testing::Test {
protected:
    ChildResult Crash(const std::string& how, const std::string& where) {
        return RunCrashChild(folder_.Path(), how, where);
    }
    // The folder's only file, which must be a dump named "<GUID>.dmp"; it is removed.
    Minidump TakeOnlyDump() const {
        static const std::regex kGuidDump(
            "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\.dmp");
        const auto files = FilesIn(folder_.Path());
        EXPECT_EQ(files.size(), 1u);
        EXPECT_TRUE(std::regex_match(files.at(0).filename().string(), kGuidDump)) << files.at(0);
        EXPECT_EQ(fs::status(files.at(0)).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        Minidump dump(files.at(0));
        fs::remove(files.at(0));
        return dump;
    }

    scratch::ScratchFolder folder_;
};

// Checks what the dump says about the crash: the exception names the signal, the thread and
// the fault address where it is known, and the thread's stack, saved from its stack pointer
// on (after an overflow: from where the stack's mapping begins, just above it), is in the
// memory list, one stack for each thread. Which modules hold the frames is for the debugger
// to show (DumpOpensInTheDebuggerWithTheBacktrace).
void ExpectDumpDescribes(const Minidump& dump, const ChildResult& child, int signal) {
    const auto exception = dump.Stream<md::ExceptionStream>(md::kExceptionStream);
    EXPECT_EQ(exception.exceptionRecord.exceptionCode, static_cast<std::uint32_t>(signal));
    EXPECT_EQ(exception.threadId, child.threadId);
    if (child.faultAddress != 0) {
        EXPECT_EQ(exception.exceptionRecord.exceptionAddress, child.faultAddress);
    }
    EXPECT_EQ(exception.threadContext.dataSize, sizeof(md::ContextAmd64));
    const auto context = dump.Read<md::ContextAmd64>(exception.threadContext.rva);
    EXPECT_EQ(context.contextFlags, md::kContextAmd64Full);
    const auto threads = dump.List<md::Thread>(md::kThreadListStream);
    const auto crashed = std::find_if(threads.begin(), threads.end(), [&](const md::Thread& t) {
        return t.threadId == child.threadId;
    });
    ASSERT_NE(crashed, threads.end());
    const md::MemoryDescriptor stack = crashed->stack;
    EXPECT_LE(stack.startOfMemoryRange, context.rsp + 64 * 1024);
    EXPECT_LT(context.rsp, stack.startOfMemoryRange + stack.memory.dataSize);
    const auto memory = dump.List<md::MemoryDescriptor>(md::kMemoryListStream);
    EXPECT_EQ(memory.size(), threads.size());
    for (const md::MemoryDescriptor& range : memory) {
        dump.ExpectInside(range.memory);
    }
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
    EXPECT_EQ(TakeOnlyDump()
                  .Stream<md::ExceptionStream>(md::kExceptionStream)
                  .exceptionRecord.exceptionCode,
              static_cast<std::uint32_t>(SIGSEGV));
    EXPECT_EQ(Crash("segv", "workers").signal, SIGSEGV);
    EXPECT_GE(TakeOnlyDump().List<md::Thread>(md::kThreadListStream).size(), 3u);
    EXPECT_EQ(RunCrashChild(folder_ / "missing", "fpe", "worker").signal, SIGFPE);
    EXPECT_TRUE(FilesIn(folder_.Path()).empty());
}

// Both threads of the dump show with their backtraces in the debugger: the crashing worker
// and the waiting main thread. (Where the package puts the debug information that the
// debugger looks up by build id is the package check's.)
TEST_F(CrashDumpTest, DumpOpensInTheDebuggerWithTheBacktrace) {
    if (!fs::exists("/usr/bin/lldb")) {
        GTEST_SKIP() << "lldb is not installed (scripts/setup installs it)";
    }
    EXPECT_EQ(Crash("segv", "worker").signal, SIGSEGV);
    testsupport::ChildProcess lldb(
        {WARDEX_OPEN_DUMP, FilesIn(folder_.Path()).at(0).string(), WARDEX_CRASH_CHILD});
    lldb.WaitForExit(std::chrono::seconds(60));
    const std::string output = lldb.Output() + lldb.Errors();
    for (const char* part : {"SIGSEGV", "CrashBySegv", "thread #2", "start_thread"}) {
        EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
    }
}

// The part of the dump writer that a crash cannot easily reach: memory that cannot be read.
TEST(MinidumpFileTest, UnreadableMemoryIsWrittenAsZeros) {
    const long page = ::sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(
        ::mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    std::memset(pages, 'a', 3 * page);
    ASSERT_EQ(::mprotect(pages + page, page, PROT_NONE), 0);

    const sys::FileDescriptor dump(::memfd_create("dump", MFD_CLOEXEC));
    sys::MinidumpFile file(dump.Get());
    const auto where = file.AppendMemory(reinterpret_cast<std::uintptr_t>(pages), 3 * page);
    EXPECT_TRUE(file.Ok());
    std::string bytes(3 * page, '\0');
    ASSERT_EQ(where.dataSize, bytes.size());
    EXPECT_EQ(::pread(dump.Get(), bytes.data(), bytes.size(), where.rva),
              static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(bytes, std::string(page, 'a') + std::string(page, '\0') + std::string(page, 'a'));
    ::munmap(pages, 3 * page);
}

}  // namespace
