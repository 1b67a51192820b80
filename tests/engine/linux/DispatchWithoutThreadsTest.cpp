#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sys/resource.h>

#include "common/lang/CurrentThread.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestBasics.h"

namespace {

// Caps the address space just above what the process uses, so that no thread stack can be
// mapped any more and every thread start fails. For a child process only.
void CapAddressSpace() {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    const rlimit cap{used + (1u << 20), used + (1u << 20)};
    if (pages == 0 || setrlimit(RLIMIT_AS, &cap) != 0) {
        std::fputs("cannot cap the address space", stderr);
        std::_Exit(2);
    }
}

// In a child process, whose exit code is the verdict.
void DispatchWithoutThreads() {
    enginetest::QueuedDispatch run(3);
    // Whatever handles a message writes here; no second thread can, once the cap is set.
    std::vector<std::uint32_t> handlerThreads;
    handlerThreads.reserve(3);
    run.agent.SetHandler(
        [&](msg::IQXMessage&) { handlerThreads.push_back(lang::CurrentThreadId()); });
    CapAddressSpace();
    run.Run();
    const bool holds = handlerThreads == std::vector<std::uint32_t>(3, lang::CurrentThreadId()) &&
                       run.agent.CountLines("Cannot start a thread for Request=Job") == 3;
    if (!holds) {
        std::fputs("the messages were not all handled on the thread that offered them", stderr);
    }
    std::_Exit(holds ? 0 : 1);
}

// Runs in a child process, since no thread can be started after it.
TEST(DispatchWithoutThreads, MessagesWhoseThreadCannotStartAreHandledOnTheThreadThatOffersThem) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need more address space than the cap leaves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(DispatchWithoutThreads(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
