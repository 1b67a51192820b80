// The program that the crash tests start as a child: it installs the crash handler with the
// folder it is given and crashes in the way it is asked, on the main thread or on a worker.
//
//   crash_child <dump folder> <crash> [worker|workers|agent-thread]
//
// where crash is segv, bus, ill, fpe, abort, overflow (of the stack) or in-handler (a second
// crash after the dump); worker crashes on a new thread, workers on two at once,
// agent-thread on a thread started as the agent starts its own (lang::IAThread).
//
// Before crashing it prints "thread <id>" (the crashing thread) and, where the fault address
// is known, "address <hex>". The faults are made in assembly, where no sanitizer sees them.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <latch>
#include <map>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>

#include "common/lang/CurrentThread.h"
#include "common/lang/IAThreads.h"
#include "common/sys/CrashHandler.h"

namespace {

constexpr std::uintptr_t kSegvAddress = 0x10;

void Announce(std::uintptr_t address) {
    std::printf("thread %u\n", lang::CurrentThreadId());
    if (address != 0) {
        std::printf("address %#lx\n", static_cast<unsigned long>(address));
    }
    std::fflush(stdout);
}

__attribute__((noinline)) void CrashBySegv() {
    Announce(kSegvAddress);
    asm volatile("movq %0, %%rax\n\tmovq (%%rax), %%rax" : : "i"(kSegvAddress) : "rax", "memory");
}

// Reading a shared mapping past the end of its (empty) file raises SIGBUS.
__attribute__((noinline)) void CrashByBus() {
    const int file = ::memfd_create("crash-bus", 0);
    void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, file, 0);
    if (file < 0 || page == MAP_FAILED) {
        std::perror("memfd/mmap");
        std::exit(2);
    }
    Announce(reinterpret_cast<std::uintptr_t>(page));
    asm volatile("movq (%0), %%rax" : : "r"(page) : "rax", "memory");
}

// Recurses until the stack is used up; each frame keeps a buffer the compiler cannot drop.
__attribute__((noinline)) std::size_t Recurse(std::size_t depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    return depth == 0 ? frame[0] : Recurse(depth + 1) + frame[0];
}

// Runs on the crashing thread after the dump is written and crashes once more, differently.
void CrashAgainAfterDump(const char*) {
    asm volatile("ud2");
}

using Crash = std::function<void()>;

Crash ChooseCrash(const std::string& how) {
    // These faults have no address to tell: the crash announces only its thread.
    const std::map<std::string, void (*)()> addressless = {
        {"ill", [] { asm volatile("ud2"); }},
        {"fpe",
         [] {
             asm volatile("xorl %%edx, %%edx\n\tmovl $1, %%eax\n\txorl %%ecx, %%ecx\n\tidivl %%ecx"
                          :
                          :
                          : "eax", "ecx", "edx");
         }},
        {"abort", [] { std::abort(); }},
        {"overflow", [] { std::printf("%zu\n", Recurse(1)); }}};
    const auto found = addressless.find(how);
    if (found == addressless.end()) {
        return how == "bus" ? CrashByBus : CrashBySegv;
    }
    return [crash = found->second] {
        Announce(0);
        crash();
    };
}

// A thread as the agent starts its own.
class CrashingThread final : public lang::IAThread {
public:
    explicit CrashingThread(Crash crash) : crash_(crash) {}
    std::uint32_t Run(std::uint32_t) override {
        crash_();
        return 0;
    }

private:
    Crash crash_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <dump folder> <crash> [worker]\n", argv[0]);
        return 2;
    }
    // The system's core dump adds nothing to these tests and can be slow.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);

    const std::string how = argv[2];
    const sys::CrashDumpCallback afterDump = how == "in-handler" ? CrashAgainAfterDump : nullptr;
    if (!sys::InstallCrashHandler(argv[1], afterDump)) {
        std::fprintf(stderr, "the crash handler did not install\n");
        return 3;
    }
    const Crash crash = ChooseCrash(how);
    const std::string where = argc > 3 ? argv[3] : "main";
    if (where == "workers") {
        // Two threads crash at about the same time; one of them writes the dump.
        std::latch bothRunning(2);
        const auto meetAndCrash = [&bothRunning, crash] {
            bothRunning.arrive_and_wait();
            crash();
        };
        std::jthread first(meetAndCrash), second(meetAndCrash);
    } else if (where == "worker") {
        std::jthread worker(crash);
    } else if (where == "agent-thread") {
        CrashingThread worker(crash);
        worker.Start();
        worker.WaitForEnd(lang::kInfinite);
    } else {
        crash();
    }
    return 0;
}
