#include "common/sys/linux/StoppedThreads.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include "common/sys/linux/FileDescriptor.h"
#include "common/sys/linux/MinidumpContext.h"

namespace sys {
namespace {

constexpr int kHelperTimeoutMs = 3000;
constexpr std::size_t kMaxAttached = 1024;

long long NowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1'000'000;
}

pid_t ParseThreadId(const char* name) {
    pid_t id = 0;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return 0;
        }
        id = id * 10 + (*name - '0');
    }
    return id;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}

// Stops the thread as its tracer; false, and the thread left alone, when that is refused.
bool Attach(pid_t thread) {
    if (::ptrace(PTRACE_SEIZE, thread, nullptr, nullptr) != 0) {
        return false;
    }
    int status = 0;
    if (::ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr) == 0 &&
        ::waitpid(thread, &status, __WALL) == thread && WIFSTOPPED(status)) {
        return true;
    }
    ::ptrace(PTRACE_DETACH, thread, nullptr, nullptr);
    return false;
}

bool SendRegisters(pid_t thread, int toParent) {
    user_regs_struct registers{};
    user_fpregs_struct floating{};
    if (::ptrace(PTRACE_GETREGS, thread, nullptr, &registers) != 0 ||
        ::ptrace(PTRACE_GETFPREGS, thread, nullptr, &floating) != 0) {
        return false;
    }
    const ThreadRegisters record{static_cast<std::uint32_t>(thread),
                                 ContextFromTrace(registers, floating)};
    static_assert(sizeof(record) <= PIPE_BUF, "one record per atomic pipe write");
    return WriteAll(toParent, &record, sizeof(record));
}

// The helper process: waits for the parent's go, stops and reports each of its threads but
// the crashing one, then holds them until the parent closes its pipe.
[[noreturn]] void RunHelper(int taskFolder, pid_t crashing, int fromParent, int toParent) {
    char signal = 0;
    if (::read(fromParent, &signal, 1) != 1) {
        ::_exit(1);
    }
    pid_t attached[kMaxAttached];
    std::size_t count = 0;
    alignas(dirent64) char entries[4096];
    long got = 0;
    while ((got = ::syscall(SYS_getdents64, taskFolder, entries, sizeof(entries))) > 0) {
        for (long at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            const pid_t thread = ParseThreadId(entry->d_name);
            if (thread <= 0 || thread == crashing || count == kMaxAttached || !Attach(thread)) {
                continue;
            }
            attached[count++] = thread;
            SendRegisters(thread, toParent);
        }
    }
    ::close(toParent);
    while (::read(fromParent, &signal, 1) > 0) {
    }
    for (std::size_t i = 0; i < count; ++i) {
        ::ptrace(PTRACE_DETACH, attached[i], nullptr, nullptr);
    }
    ::_exit(0);
}

// Reads exactly size bytes unless the pipe closes or the deadline passes.
bool ReadRecord(int fd, void* out, std::size_t size, long long deadline) {
    auto* bytes = static_cast<char*>(out);
    while (size > 0) {
        pollfd entry{fd, POLLIN, 0};
        const long long left = deadline - NowMs();
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        const ssize_t got = ::read(fd, bytes, size);
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

StoppedThreads::StoppedThreads(std::size_t capacity)
    : threads_(new ThreadRegisters[capacity]), capacity_(capacity) {}

void StoppedThreads::Stop(std::uint32_t crashingThread) noexcept {
    Release();
    count_ = 0;
    int fromHelper[2];
    int toHelper[2];
    if (::pipe2(fromHelper, O_CLOEXEC) != 0) {
        return;
    }
    FileDescriptor fromHelperRead(fromHelper[0]);
    FileDescriptor fromHelperWrite(fromHelper[1]);
    if (::pipe2(toHelper, O_CLOEXEC) != 0) {
        return;
    }
    FileDescriptor toHelperRead(toHelper[0]);
    FileDescriptor toHelperWrite(toHelper[1]);
    FileDescriptor taskFolder(::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!taskFolder) {
        return;
    }
    // A bare copy of the process: unlike fork(), no fork handlers run in either process.
    const long helper = ::syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, nullptr);
    if (helper == 0) {
        // The helper must not hold the parent's ends: their closing is what it waits for.
        toHelperWrite.Reset();
        fromHelperRead.Reset();
        RunHelper(taskFolder.Get(), static_cast<pid_t>(crashingThread), toHelperRead.Get(),
                  fromHelperWrite.Get());
    }
    if (helper < 0) {
        return;
    }
    helper_ = static_cast<pid_t>(helper);
    fromHelperWrite.Reset();
    // Where a security module lets only ancestors trace, name the helper as allowed to.
    ::prctl(PR_SET_PTRACER, helper_, 0, 0, 0);
    toHelper_ = toHelperWrite.Release();
    if (WriteAll(toHelper_, "g", 1)) {
        Collect(fromHelperRead.Get());
    }
}

void StoppedThreads::Collect(int fromHelper) noexcept {
    const long long deadline = NowMs() + kHelperTimeoutMs;
    while (count_ < capacity_ &&
           ReadRecord(fromHelper, &threads_[count_], sizeof(ThreadRegisters), deadline)) {
        ++count_;
    }
}

void StoppedThreads::Release() noexcept {
    if (helper_ <= 0) {
        return;
    }
    ::close(toHelper_);
    toHelper_ = -1;
    const long long deadline = NowMs() + kHelperTimeoutMs;
    int status = 0;
    while (::waitpid(helper_, &status, WNOHANG) == 0) {
        if (NowMs() > deadline) {
            ::kill(helper_, SIGKILL);
            ::waitpid(helper_, &status, 0);
            break;
        }
        const timespec pause{0, 1'000'000};
        ::nanosleep(&pause, nullptr);
    }
    ::prctl(PR_SET_PTRACER, 0, 0, 0, 0);
    helper_ = -1;
}

}  // namespace sys
