#include "common/sys/CrashHandler.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <sys/random.h>
#include <sys/syscall.h>

#include "common/sys/ThreadCrashStack.h"
#include "common/sys/linux/AltSignalStack.h"
#include "common/sys/linux/FileDescriptor.h"
#include "common/sys/linux/MinidumpWriter.h"
#include "common/sys/linux/StoppedThreads.h"

namespace sys {
namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kSignalCount = std::size(kCrashSignals);
constexpr char kGuidPattern[] = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
constexpr std::size_t kGuidLength = sizeof(kGuidPattern) - 1;
// How long a second crashing thread waits for the first one's dump.
constexpr int kWaitForOtherDumpSeconds = 10;
// Threads beyond this many are left out of the dump.
constexpr std::size_t kMaxOtherThreads = 256;

// Everything the handler uses, made when it is installed.
struct Installed {
    std::string dumpPath;  // "<folder>/<GUID>.dmp", the GUID written in at crash time
    std::size_t guidAt = 0;
    CrashDumpCallback afterDump = nullptr;
    MinidumpWriter writer{kMaxOtherThreads};
    StoppedThreads otherThreads{kMaxOtherThreads};
    struct sigaction previousActions[kSignalCount] = {};
    std::unique_ptr<AltSignalStack> altStack;  // of the installing thread
};

// The handler reads the state through the atomic pointer; the unique pointer owns it.
std::unique_ptr<Installed> g_owner;
std::atomic<Installed*> g_installed{nullptr};
// The thread that is writing a dump; 0 while none is.
std::atomic<pid_t> g_dumpingThread{0};

pid_t ThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// A random (version 4) GUID, written over the pattern's "x" places.
void FillGuid(char* out) {
    unsigned char bytes[16] = {};
    if (::getrandom(bytes, sizeof(bytes), GRND_NONBLOCK) != sizeof(bytes)) {
        // Unique enough for a file name that is also opened exclusively.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const std::uint64_t seeds[2] = {static_cast<std::uint64_t>(now.tv_nsec) ^
                                            (static_cast<std::uint64_t>(ThreadId()) << 32),
                                        static_cast<std::uint64_t>(now.tv_sec)};
        std::memcpy(bytes, seeds, sizeof(bytes));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    constexpr char kHex[] = "0123456789abcdef";
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < kGuidLength; ++i) {
        const unsigned char byte = bytes[nibble / 2];
        out[i] = kGuidPattern[i] == '-' ? '-' : kHex[nibble++ % 2 == 0 ? byte >> 4 : byte & 0xf];
    }
}

void WriteDump(Installed& installed, const CrashReport& crash) {
    char* path = installed.dumpPath.data();
    FillGuid(path + installed.guidAt);
    FileDescriptor file(::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file) {
        return;
    }
    installed.otherThreads.Stop(crash.threadId);
    const bool written =
        installed.writer.Write(file.Get(), crash, installed.otherThreads.Threads());
    installed.otherThreads.Release();
    if (!written) {
        // A cut-off dump helps no one and takes disk space.
        ::unlink(path);
        return;
    }
    file.Reset();
    if (installed.afterDump != nullptr) {
        installed.afterDump(path);
    }
}

void WaitForOtherDump() {
    for (int tick = 0; tick < kWaitForOtherDumpSeconds * 10; ++tick) {
        const timespec pause{0, 100'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

// Hands the signal to the system's default action. A fault raised by an instruction comes
// back when the handler returns and the instruction runs again; a signal that was sent
// (abort, kill) is sent again.
void RaiseWithDefaultAction(int signal, const siginfo_t& info) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    if (info.si_code <= 0 || signal == SIGABRT) {
        ::syscall(SYS_tgkill, ::getpid(), ThreadId(), signal);
    }
}

void OnCrashSignal(int signal, siginfo_t* info, void* context) {
    const pid_t self = ThreadId();
    pid_t dumping = 0;
    if (g_dumpingThread.compare_exchange_strong(dumping, self)) {
        if (Installed* installed = g_installed.load()) {
            WriteDump(*installed, {info, static_cast<const ucontext_t*>(context),
                                   static_cast<std::uint32_t>(self)});
        }
    } else if (dumping != self) {
        WaitForOtherDump();
    }
    RaiseWithDefaultAction(signal, *info);
}

void RestoreActions(Installed& installed, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        ::sigaction(kCrashSignals[i], &installed.previousActions[i], nullptr);
    }
}

bool SetActions(Installed& installed) {
    struct sigaction action {};
    action.sa_sigaction = OnCrashSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A crash inside the handler finds its signal blocked, and the kernel ends the process.
    ::sigfillset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kCrashSignals[i], &action, &installed.previousActions[i]) != 0) {
            RestoreActions(installed, i);
            return false;
        }
    }
    return true;
}

}  // namespace

bool InstallCrashHandler(const std::string& dumpFolder, CrashDumpCallback afterDump) {
    if (g_owner != nullptr) {
        return false;
    }
    auto installed = std::make_unique<Installed>();
    installed->dumpPath = dumpFolder + "/" + kGuidPattern + ".dmp";
    if (installed->dumpPath.size() >= PATH_MAX) {
        return false;
    }
    installed->guidAt = dumpFolder.size() + 1;
    installed->afterDump = afterDump;
    installed->altStack = std::make_unique<AltSignalStack>();
    if (!installed->altStack->IsSet()) {
        return false;
    }
    g_installed.store(installed.get());
    if (!SetActions(*installed)) {
        g_installed.store(nullptr);
        return false;
    }
    g_owner = std::move(installed);
    KeepCrashStacksOnNewThreads(true);
    return true;
}

void RemoveCrashHandler() {
    if (g_owner == nullptr) {
        return;
    }
    KeepCrashStacksOnNewThreads(false);
    RestoreActions(*g_owner, kSignalCount);
    g_installed.store(nullptr);
    g_owner.reset();
}

}  // namespace sys
