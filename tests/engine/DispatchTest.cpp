#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <semaphore>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "agent/engine/DispatchThread.h"
#include "agent/engine/MsgFifoQueue.h"
#include "common/err/Errors.h"
#include "common/sys/CurrentProcess.h"
#include "tests/support/RecordingAgent.h"

namespace {

using testsupport::NewJob;
using testsupport::RecordingAgent;

// How many of the threads (by their system ids) are still there, once that number has come
// down to at most expected or the patience is over.
std::size_t AliveAfterSettling(const std::set<std::uint32_t>& threads, std::size_t expected) {
    const auto alive = [&] {
        return static_cast<std::size_t>(std::count_if(threads.begin(), threads.end(), [](auto id) {
            return std::filesystem::exists("/proc/self/task/" + std::to_string(id));
        }));
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (alive() > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return alive();
}

// Every sequence number from 1 to last handled exactly once, and nothing else.
void ExpectEachHandledOnce(const RecordingAgent& agent, int last) {
    std::map<int, int> once;
    for (int sequence = 1; sequence <= last; ++sequence) {
        once[sequence] = 1;
    }
    EXPECT_EQ(agent.Handled(), once) << "sequence number: times handled";
}

// A dispatch thread over messages queued beforehand, told to stop once they are taken.
struct QueuedDispatch {
    explicit QueuedDispatch(int messages) {
        dispatch.SetQueue(&queue);
        dispatch.SetAgent(&agent);
        for (int sequence = 1; sequence <= messages; ++sequence) {
            queue.Push(NewJob(sequence));
        }
        queue.Signal();
    }
    bool HandledHere(int sequence) const {
        return agent.Handled().count(sequence) == 1 &&
               agent.HandlerThread(sequence) == sys::CurrentThreadId();
    }

    MsgFifoQueue queue;
    RecordingAgent agent;
    CDispatch dispatch;
};

// Whatever escapes a handler is logged with what it tells, and the message is still released.
TEST(DispatchTest, WhateverEscapesTheHandlerIsLoggedAndTheMessageStillReleased) {
    struct Case {
        std::function<void()> raise;
        std::vector<std::string> logged;
    };
    const std::vector<Case> cases = {
        {[] { throw CToolBoxError("Toolbox", "HandleMessage - access violation", 63, 5, 2); },
         {"Toolbox:63 - HandleMessage - access violation", "value=5", "0x00000002"}},
        {[] { throw std::runtime_error("toolbox bug"); }, {"toolbox bug"}},
        {[] { throw 42; }, {"unknown exception"}},
        {[] {}, {}},
    };
    const int count = static_cast<int>(cases.size());
    QueuedDispatch run(count);
    run.agent.SetHandler([&](msg::IQXMessage& message) {
        cases[static_cast<std::size_t>(message.GetFieldInt("Seq") - 1)].raise();
    });
    run.dispatch.Run(0);
    ExpectEachHandledOnce(run.agent, count);
    const std::vector<testsupport::LogLine> lines = run.agent.Lines();
    for (int sequence = 1; sequence <= count; ++sequence) {
        const std::string job = "Request=Job" + std::to_string(sequence);
        SCOPED_TRACE(job);
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const auto& logLine) {
            return logLine.level == 0 && logLine.text.find(job) != std::string::npos;
        });
        const std::vector<std::string>& logged =
            cases[static_cast<std::size_t>(sequence - 1)].logged;
        ASSERT_EQ(line != lines.end(), !logged.empty());
        for (const std::string& part : logged) {
            EXPECT_NE(line->text.find(part), std::string::npos) << line->text;
        }
    }
}

struct Idle {
    std::size_t limit;
    std::uint32_t timeoutMs;
};

// A dispatch thread of its own, whose handlers each wait for a permit from the test.
class DispatchIdleTest : public ::testing::TestWithParam<Idle> {
protected:
    void SetUp() override {
        agent_.SetHandler([this](msg::IQXMessage&) { permits_.acquire(); });
        dispatch_.SetQueue(&queue_);
        dispatch_.SetAgent(&agent_);
        dispatch_.SetWorkerLimit(kLimit);
        dispatch_.SetIdleLimit(GetParam().limit);
        dispatch_.SetIdleTimeout(GetParam().timeoutMs);
        ASSERT_TRUE(dispatch_.Start());
    }
    // Whatever a failed test left blocked is let go, so the dispatch thread ends.
    void TearDown() override {
        permits_.release(kLimit + 1);
        queue_.Signal();
        dispatch_.WaitForEnd(lang::kInfinite);
    }
    void Push(int first, int count) {
        for (int sequence = first; sequence < first + count; ++sequence) {
            queue_.Push(NewJob(sequence));
        }
    }

    static constexpr int kLimit = 8;
    MsgFifoQueue queue_;
    RecordingAgent agent_;
    std::counting_semaphore<> permits_{0};
    CDispatch dispatch_;
};

// Messages run side by side up to the worker limit. When they are done, no more threads than
// the idle limit wait for work, and none once the idle time-out passes without a message (a
// quiet agent keeps no workers); the next message goes to a waiting thread if there is one, and
// every thread ends at the stop.
TEST_P(DispatchIdleTest, NoMoreThreadsThanTheIdleLimitWaitForWork) {
    const Idle idle = GetParam();
    const std::size_t waiting = idle.timeoutMs == CDispatch::kDefaultIdleTimeoutMs ? idle.limit : 0;
    Push(1, kLimit);
    ASSERT_TRUE(agent_.WaitForRunning(kLimit));
    std::set<std::uint32_t> threads;
    for (int sequence = 1; sequence <= kLimit; ++sequence) {
        threads.insert(agent_.HandlerThread(sequence));
    }
    ASSERT_EQ(threads.size(), static_cast<std::size_t>(kLimit));

    permits_.release(kLimit);
    EXPECT_EQ(AliveAfterSettling(threads, waiting), waiting);
    permits_.release(1);
    Push(kLimit + 1, 1);
    ASSERT_TRUE(agent_.WaitForLines("has completed", kLimit + 1));
    EXPECT_EQ(threads.count(agent_.HandlerThread(kLimit + 1)), waiting > 0 ? 1u : 0u);

    queue_.Signal();
    ASSERT_TRUE(dispatch_.WaitForEnd(20000));
    EXPECT_EQ(AliveAfterSettling(threads, 0), 0u);
    ExpectEachHandledOnce(agent_, kLimit + 1);
}

INSTANTIATE_TEST_SUITE_P(Dispatch, DispatchIdleTest,
                         ::testing::Values(Idle{2, CDispatch::kDefaultIdleTimeoutMs}, Idle{8, 20}),
                         [](const auto& info) {
                             return info.param.limit == 2 ? "IdleLimit" : "IdleTimeOut";
                         });

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

// A child process's verdict, through its exit code.
[[noreturn]] void Verdict(bool holds, const char* otherwise) {
    if (!holds) {
        std::fputs(otherwise, stderr);
    }
    std::_Exit(holds ? 0 : 1);
}

void DispatchWithoutThreads() {
    QueuedDispatch run(3);
    CapAddressSpace();
    run.dispatch.Run(0);
    bool holds = true;
    for (int sequence = 1; sequence <= 3; ++sequence) {
        holds = holds && run.HandledHere(sequence) &&
                run.agent.CountLines("Cannot start a thread for Request=Job" +
                                     std::to_string(sequence)) == 1;
    }
    Verdict(holds, "the messages were not all handled on the dispatch thread");
}

// Runs in a child process, since no thread can be started after it.
TEST(DispatchWithoutThreads, MessagesWhoseThreadCannotStartAreHandledOnTheDispatchThread) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need more address space than the cap leaves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(DispatchWithoutThreads(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
