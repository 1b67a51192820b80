#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <semaphore>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>

#include "agent/engine/DispatchThread.h"
#include "agent/engine/MsgFifoQueue.h"
#include "common/err/Errors.h"
#include "common/lang/Event.h"
#include "common/sys/CurrentProcess.h"
#include "tests/support/RecordingAgent.h"

namespace {

using testsupport::NewJob;
using testsupport::RecordingAgent;

constexpr std::uint32_t kPatienceMs = 20000;

// The workers handed to the collector that it has not found finished, by its lines.
std::size_t StillOnHeap(const RecordingAgent& agent) {
    return agent.CountLines("Adding object to the garbage heap") -
           agent.CountLines("has completed");
}

// Whether the thread of this process with the system's id is still there.
bool ThreadAlive(std::uint32_t thread) {
    return std::filesystem::exists("/proc/self/task/" + std::to_string(thread));
}

// The threads that handled the sequence numbers from first to last.
std::set<std::uint32_t> HandlerThreads(const RecordingAgent& agent, int first, int last) {
    std::set<std::uint32_t> threads;
    for (int sequence = first; sequence <= last; ++sequence) {
        threads.insert(agent.HandlerThread(sequence));
    }
    return threads;
}

// How many of the threads are still there, once that number has come down to at most
// expected or the patience is over.
std::size_t AliveAfterSettling(const std::set<std::uint32_t>& threads, std::size_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        const auto alive =
            static_cast<std::size_t>(std::count_if(threads.begin(), threads.end(), ThreadAlive));
        if (alive <= expected || std::chrono::steady_clock::now() > deadline) {
            return alive;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Every sequence number from first to last handled exactly once, and nothing else.
void ExpectEachHandledOnce(const RecordingAgent& agent, int first, int last) {
    std::map<int, int> once;
    for (int sequence = first; sequence <= last; ++sequence) {
        once[sequence] = 1;
    }
    EXPECT_EQ(agent.Handled(), once) << "sequence number: times handled";
}

// The dispatch thread on a queue and a scripted agent, started and stopped the way the agent
// object does it.
class DispatchTest : public ::testing::Test {
protected:
    void Start(std::size_t workerLimit = CDispatch::kDefaultWorkerLimit,
               std::size_t idleLimit = CDispatch::kDefaultIdleLimit,
               std::uint32_t idleTimeoutMs = CDispatch::kDefaultIdleTimeoutMs) {
        dispatch_.SetQueue(&queue_);
        dispatch_.SetAgent(&agent_);
        dispatch_.SetWorkerLimit(workerLimit);
        dispatch_.SetIdleLimit(idleLimit);
        dispatch_.SetIdleTimeout(idleTimeoutMs);
        ASSERT_TRUE(dispatch_.Start());
        started_ = true;
    }
    void Push(int first, int count) {
        for (int sequence = first; sequence < first + count; ++sequence) {
            queue_.Push(NewJob(sequence));
        }
    }
    void Stop() {
        dispatch_.Signal();
        ASSERT_TRUE(dispatch_.WaitForEnd(kPatienceMs));
    }
    // Whatever a failed test left blocked is let go, so the dispatch thread ends.
    void TearDown() override {
        permits_.release(kMessagesAtMost);
        if (started_) {
            dispatch_.Signal();
            dispatch_.WaitForEnd(lang::kInfinite);
        }
    }

    MsgFifoQueue queue_;
    RecordingAgent agent_;
    // Handlers that take a permit run until the test gives one.
    static constexpr std::ptrdiff_t kMessagesAtMost = 1000;  // in any one test
    std::counting_semaphore<> permits_{0};
    bool started_ = false;
    CDispatch dispatch_;
};

TEST_F(DispatchTest, WhateverEscapesTheHandlerIsLoggedAndTheMessageStillReleased) {
    agent_.SetHandler([](msg::IQXMessage& message) {
        switch (message.GetFieldInt("Seq")) {
            case 1:
                throw CToolBoxError("Toolbox", "HandleMessage - access violation", 63, 5, 2);
            case 2:
                throw std::runtime_error("toolbox bug");
            case 3:
                throw 42;
        }
    });
    Push(1, 4);
    Start();
    Stop();

    ExpectEachHandledOnce(agent_, 1, 4);
    EXPECT_EQ(agent_.CountLines("has completed"), 4u);
    EXPECT_EQ(StillOnHeap(agent_), 0u);
    std::map<std::string, std::string> errors;  // by the lead pair they name
    for (const auto& line : agent_.Lines()) {
        const std::size_t lead = line.text.find("Request=Job");
        if (line.level == 0 && lead != std::string::npos) {
            errors[line.text.substr(lead, 12)] = line.text;
        }
    }
    ASSERT_EQ(errors.size(), 3u);
    const std::string& family = errors["Request=Job1"];
    EXPECT_NE(family.find("Toolbox:63 - HandleMessage - access violation"), std::string::npos)
        << family;
    EXPECT_NE(family.find("value=5"), std::string::npos) << family;
    EXPECT_NE(family.find("0x00000002"), std::string::npos) << family;
    EXPECT_NE(errors["Request=Job2"].find("toolbox bug"), std::string::npos);
    EXPECT_NE(errors["Request=Job3"].find("unknown exception"), std::string::npos);
}

// Messages run side by side up to the worker limit; when they are done, no more threads than
// the idle limit wait for work, the next message is taken by one of them, and they end at the
// stop.
TEST_F(DispatchTest, NoMoreThreadsThanTheIdleLimitWaitForWork) {
    constexpr int kLimit = 8;
    constexpr std::size_t kIdle = 2;
    agent_.SetHandler([this](msg::IQXMessage&) { permits_.acquire(); });
    Start(kLimit, kIdle);
    Push(1, kLimit);
    ASSERT_TRUE(agent_.WaitForRunning(kLimit));
    const auto threads = HandlerThreads(agent_, 1, kLimit);
    ASSERT_EQ(threads.size(), static_cast<std::size_t>(kLimit));

    permits_.release(kLimit);
    ASSERT_TRUE(agent_.WaitForLines("leaves the pool", kLimit - kIdle));
    EXPECT_EQ(AliveAfterSettling(threads, kIdle), kIdle);
    EXPECT_EQ(agent_.CountLines("parked for the next message"), kIdle);
    permits_.release(1);
    Push(kLimit + 1, 1);
    ASSERT_TRUE(agent_.WaitForLines("has completed", kLimit + 1));
    EXPECT_EQ(threads.count(agent_.HandlerThread(kLimit + 1)), 1u) << "a new thread was started";

    Stop();
    EXPECT_EQ(AliveAfterSettling(threads, 0), 0u);
    EXPECT_EQ(agent_.CountLines("leaves the pool"), static_cast<std::size_t>(kLimit));
    ExpectEachHandledOnce(agent_, 1, kLimit + 1);
}

// A quiet agent keeps no worker threads: a parked thread that gets no message within the idle
// time-out ends on its own, before any stop.
TEST_F(DispatchTest, ParkedThreadsEndWhenNoMessageComesWithinTheIdleTimeOut) {
    constexpr int kCount = 4;
    agent_.SetHandler([this](msg::IQXMessage&) { permits_.acquire(); });
    Start(kCount, kCount, 20);
    Push(1, kCount);
    ASSERT_TRUE(agent_.WaitForRunning(kCount));
    const auto threads = HandlerThreads(agent_, 1, kCount);
    permits_.release(kCount);
    ASSERT_TRUE(agent_.WaitForLines("parked for the next message", kCount));
    ASSERT_TRUE(agent_.WaitForLines("leaves the pool", kCount));
    EXPECT_EQ(AliveAfterSettling(threads, 0), 0u);

    permits_.release(1);
    Push(kCount + 1, 1);
    ASSERT_TRUE(agent_.WaitForLines("has completed", kCount + 1));
    Stop();
    ExpectEachHandledOnce(agent_, 1, kCount + 1);
}

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

// A dispatch thread to be run on the calling thread over messages queued beforehand.
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

void DispatchWithoutThreads() {
    QueuedDispatch run(3);
    CapAddressSpace();
    run.dispatch.Run(0);
    bool holds = StillOnHeap(run.agent) == 0;
    for (int sequence = 1; sequence <= 3; ++sequence) {
        holds = holds && run.HandledHere(sequence) &&
                run.agent.CountLines("Cannot start a thread for Request=Job" +
                                     std::to_string(sequence)) == 1;
    }
    Verdict(holds, "the messages were not all handled on the dispatch thread");
}

// The first worker's thread starts, its collector's cannot. The worker caps the address
// space from its handler, once its own start-up is over, while the dispatch thread waits
// before it starts the collector; the worker is held until the collector has failed, so the
// stack it frees cannot go to the collector. (The thread library may give it to a later
// thread.)
void DispatchWithoutACollectorThread() {
    QueuedDispatch run(2);
    lang::CEvent capped(lang::EventReset::Manual);
    lang::CEvent collectorFailed(lang::EventReset::Manual);
    run.agent.SetHandler([&](msg::IQXMessage& message) {
        if (message.GetFieldInt("Seq") == 1) {
            CapAddressSpace();
            capped.Set();
            collectorFailed.Wait(lang::kInfinite);
        }
    });
    run.agent.OnLine([&](const std::string& line) {
        if (line.find("Not Running, starting GC Thread") != std::string::npos) {
            capped.Wait(lang::kInfinite);
        } else if (line.find("GC Thread could not be started") != std::string::npos) {
            collectorFailed.Set();
        }
    });
    run.dispatch.Run(0);
    const auto handled = run.agent.Handled();
    Verdict(handled.size() == 2 && handled.at(1) == 1 && handled.at(2) == 1 &&
                !run.HandledHere(1) &&
                run.agent.CountLines("GC Thread could not be started, collecting on this "
                                     "thread") >= 1 &&
                run.agent.CountLines("Begin Garbage Collector Thread") ==
                    run.agent.CountLines("End Garbage Collector Thread") &&
                StillOnHeap(run.agent) == 0,
            "the first worker was not collected on the dispatch thread");
}

// Runs in a child process, since no thread can be started after it.
TEST(DispatchWithoutThreads, MessagesWhoseThreadCannotStartAreHandledOnTheDispatchThread) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need more address space than the cap leaves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(DispatchWithoutThreads(), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(DispatchWithoutACollectorThread(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
